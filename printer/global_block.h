// A global memory block that is freed once, whatever way the routine holding it ends.
#pragma once

#include <windows.h>

class GlobalBlock {
  public:
    // Takes over a block that someone else allocated (null: none).
    explicit GlobalBlock(HGLOBAL block = nullptr) : block_(block) {}
    ~GlobalBlock() {
        if (block_ != nullptr) GlobalFree(block_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    // A fixed, zero-filled block; fixed memory's handle is its address.
    bool Allocate(SIZE_T size) {
        if (block_ != nullptr) GlobalFree(block_);
        block_ = GlobalAlloc(GMEM_ZEROINIT, size);
        return block_ != nullptr;
    }
    HGLOBAL Get() const { return block_; }

  private:
    HGLOBAL block_;
};
