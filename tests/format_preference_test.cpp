// The start-up record "format_string" through the entry point, against Wine's real registry:
// the first start creates it, later ones read it, and every failure shows its status.
#include "harness.h"
#include "registry_helpers.h"

#include <string>

namespace {

const char kFormatKeyPath[] =
    "Software\\FileMaker\\FileMaker Pro\\5.5\\PlugIns\\Tesmun Plugin\\2.0v1";
const char kErrorCaption[] = "VE Zederar Plugin Error";
const std::string kDefaultStored = "\x10"
                                   "1 (###) ###-####";

StoredValue ReadFormatValue() {
    return ReadValue(kFormatKeyPath, "format_string");
}

// Creates the record's key (class "REG_SZ", as the plug-in would) with `bytes` stored raw.
void StoreFormatValue(const std::string& bytes, DWORD type = REG_BINARY) {
    StoreValue(kFormatKeyPath, "REG_SZ", "format_string", bytes, type);
}

void CreateKeyWithoutValue() {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kFormatKeyPath, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
}

// Starts every test without the record's key (other test programs start the plug-in too) and
// at its end removes what the test made and puts back a record that was there before.
class RegistryScope {
  public:
    RegistryScope() {
        saved_ = ReadFormatValue();
        RegDeleteTreeA(HKEY_CURRENT_USER, kFormatKeyPath);
        firstNew_ = FirstMissingLevel(kFormatKeyPath);
    }
    ~RegistryScope() {
        if (!firstNew_.empty()) RegDeleteTreeA(HKEY_CURRENT_USER, firstNew_.c_str());
        if (saved_.status == ERROR_SUCCESS) StoreFormatValue(saved_.bytes, saved_.type);
    }
    RegistryScope(const RegistryScope&) = delete;
    RegistryScope& operator=(const RegistryScope&) = delete;

  private:
    StoredValue saved_;
    std::string firstNew_;
};

class FormatRecordStartup : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(registry_.Installed())
            << "the plug-in does not import the registry functions by name";
        ASSERT_FALSE(KeyExists(kFormatKeyPath));
    }
    void TearDown() override { registry_.ExpectEveryKeyClosedOnce(); }

    // Sends an accepted start-up, which is answered 4 whatever befell the record, and answers
    // the text of each box it showed.
    std::vector<std::string> StartAndReadBoxes() {
        const size_t before = boxes_.Boxes().size();
        EXPECT_EQ(4, Startup(4));
        std::vector<std::string> texts;
        for (size_t i = before; i < boxes_.Boxes().size(); ++i) {
            EXPECT_EQ(kErrorCaption, boxes_.Boxes()[i].caption);
            texts.push_back(boxes_.Boxes()[i].text);
        }
        return texts;
    }

    RegistryScope scope_;
    MessageBoxCatcher boxes_;
    RegistryRecorder registry_;
    RegistryCalls& calls = registryCalls;
};

const std::vector<std::string> kNoBox;

TEST_F(FormatRecordStartup, FirstStartCreatesTheDefaultAndLaterStartsReadIt) {
    EXPECT_EQ(kNoBox, StartAndReadBoxes());

    EXPECT_EQ("REG_SZ", KeyClass(kFormatKeyPath));
    EXPECT_EQ("format_string", calls.writtenName);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), calls.writtenType);
    EXPECT_EQ(kDefaultStored, calls.writtenBytes) << "the length byte and 16 characters";

    // The A function of Wine, like NT's, adds a terminator that the count left out when the
    // byte after the data is zero, as the record's own terminator is; the value is kept as
    // UTF-16, so the size query of the W function reports twice the A function's.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kFormatKeyPath, 0, KEY_READ, &key));
    DWORD type = 0, sizeA = 0, sizeW = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, "format_string", nullptr, &type, nullptr, &sizeA));
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(key, L"format_string", nullptr, nullptr, nullptr, &sizeW));
    RegCloseKey(key);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(18u, sizeA);
    EXPECT_EQ(36u, sizeW);
    const std::string stored = kDefaultStored + '\0';
    EXPECT_EQ(stored, ReadFormatValue().bytes);

    EXPECT_EQ(kNoBox, StartAndReadBoxes());
    EXPECT_EQ(kNoBox, StartAndReadBoxes());
    EXPECT_EQ(stored, ReadFormatValue().bytes) << "a later start does not rewrite it";
    EXPECT_EQ(3u, calls.createPaths.size());
}

TEST_F(FormatRecordStartup, RefusedStartupLeavesTheRegistryAlone) {
    for (int16_t version : {3, 256, -1}) {
        EXPECT_EQ(-1, Startup(version)) << "host version " << version;
    }
    EXPECT_EQ(0u, calls.createPaths.size());
    EXPECT_FALSE(KeyExists(kFormatKeyPath));

    // Not even a record that would show a box is looked at.
    CreateKeyWithoutValue();
    EXPECT_EQ(-1, Startup(3));
    EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
}

TEST_F(FormatRecordStartup, EachFailureShowsItsStatus) {
    enum Start { kNoKey, kKeyWithoutValue, kStored };
    const struct {
        const char* situation;
        Start start;
        std::string stored;
        LONG failCreate, failWrite, failRead;
        const char* box;
    } cases[] = {
        {"key cannot be created", kNoKey, "", ERROR_ACCESS_DENIED, 0, 0, "error 5"},
        {"new key, value cannot be written", kNoKey, "", 0, ERROR_ACCESS_DENIED, 0, "error 5"},
        {"existing key without the value", kKeyWithoutValue, "", 0, 0, 0, "error 2"},
        {"stored value of 32 bytes", kStored, "\x1E" + std::string(31, 'x'), 0, 0, 0, "error 0"},
        {"stored value of 5000 bytes", kStored, std::string(5000, '\x05'), 0, 0, 0, "error 0"},
        {"stored value cannot be read", kStored,
         "\x05"
         "ABCDE",
         0, 0, ERROR_NOT_ENOUGH_MEMORY, "error 8"},
        {"length byte above 30", kStored, "\x1F" + std::string(30, 'x'), 0, 0, 0, "error 13"},
        {"negative length byte", kStored,
         "\xFF"
         "ABC",
         0, 0, 0, "error 13"},
    };
    for (const auto& c : cases) {
        RegDeleteTreeA(HKEY_CURRENT_USER, kFormatKeyPath);
        if (c.start == kKeyWithoutValue) CreateKeyWithoutValue();
        if (c.start == kStored) StoreFormatValue(c.stored);
        calls.failCreate = c.failCreate;
        calls.failWrite = c.failWrite;
        calls.failRead = c.failRead;

        EXPECT_EQ(std::vector<std::string>{c.box}, StartAndReadBoxes()) << c.situation;
        EXPECT_TRUE(calls.openKeys.empty()) << c.situation << ": key left open";
    }
}

// A create that claims success without saying whether it created or opened the key is not
// trusted: the key is closed, the box shows 1011 and the default record is used.
TEST_F(FormatRecordStartup, KeyHadWithoutADispositionIsShown) {
    calls.createReportsNoDisposition = true;
    EXPECT_EQ(std::vector<std::string>{"error 1011"}, StartAndReadBoxes());
    EXPECT_EQ(0, calls.writes);
}

TEST_F(FormatRecordStartup, ValueThatWasNeverWrittenIsNotRecreated) {
    calls.failWrite = ERROR_ACCESS_DENIED;
    EXPECT_EQ(std::vector<std::string>{"error 5"}, StartAndReadBoxes());
    calls.failWrite = ERROR_SUCCESS;
    EXPECT_TRUE(KeyExists(kFormatKeyPath)) << "the key stays";
    for (int start = 0; start < 2; ++start) {
        EXPECT_EQ(std::vector<std::string>{"error 2"}, StartAndReadBoxes()) << "start " << start;
    }
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadFormatValue().status);
}

} // namespace
