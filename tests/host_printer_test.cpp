// "VEZederar-SetPrinter" through the entry point, against Wine's real registry: the key that
// the active window's title and the version text name, the stored bytes, the key paths that are
// never asked for, the error box, and every opened key closed.
#include "harness.h"
#include "registry_helpers.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

const char kErrorCaption[] = "VE Zederar Plugin Error";

std::string PreferencesPath(const std::string& product, const std::string& version) {
    return "Software\\FileMaker\\" + product + "\\" + version + "\\Preferences";
}

// Wine's registry skips an empty level of a key path: "A\\B" names the key "A\B". The plug-in
// never asks for such a path; where one was asked for all the same, this is where to clean up.
std::string PathAsWineStoresIt(std::string path) {
    for (size_t at; (at = path.find("\\\\")) != std::string::npos;)
        path.erase(at, 1);
    return path;
}

// The first `count` levels of `path`.
std::string LeadingLevels(const std::string& path, int count) {
    size_t end = 0;
    for (int level = 0; level < count && end != std::string::npos; ++level)
        end = path.find('\\', end + 1);
    return path.substr(0, end);
}

// Makes the first `count` levels of `path`, one level a call, as Windows lets a test do.
void MakeLeadingLevels(const std::string& path, int count) {
    for (int level = 1; level <= count; ++level) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_CURRENT_USER, LeadingLevels(path, level).c_str(), 0, nullptr,
                                  0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
            << "level " << level;
        RegCloseKey(key);
    }
}

// Removes at its end the levels of `path` that did not exist at its start, and puts back a
// "Printer" value that the key held before.
class RegistryScope {
  public:
    explicit RegistryScope(const std::string& path)
        : path_(PathAsWineStoresIt(path)), firstNew_(FirstMissingLevel(path_)) {
        if (firstNew_.empty()) saved_ = ReadValue(path_, "Printer");
    }
    ~RegistryScope() {
        if (!firstNew_.empty()) RegDeleteTreeA(HKEY_CURRENT_USER, firstNew_.c_str());
        if (saved_.status != ERROR_SUCCESS) return;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_SET_VALUE, &key) != 0) return;
        RegSetValueExA(key, "Printer", 0, saved_.type,
                       reinterpret_cast<const BYTE*>(saved_.bytes.data()),
                       static_cast<DWORD>(saved_.bytes.size()));
        RegCloseKey(key);
    }
    RegistryScope(const RegistryScope&) = delete;
    RegistryScope& operator=(const RegistryScope&) = delete;

  private:
    std::string path_;
    std::string firstNew_;
    StoredValue saved_;
};

struct TitleCase {
    std::string title;
    std::string product;
};

// Every call goes through the recording hooks; after each test every key the plug-in opened
// must have been closed exactly once.
class HostPrinter : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(registry_.Installed())
            << "the plug-in does not import the registry functions by name";
    }
    void TearDown() override { registry_.ExpectEveryKeyClosedOnce(); }

    // Calls the function and checks what every call must leave alone: the result handle.
    void Call(const std::string& text) {
        const CallOutcome outcome = CallFunction(1, text);
        EXPECT_FALSE(outcome.resultTouched) << "argument text " << text;
        EXPECT_EQ(kResultSentinel, outcome.result) << "argument text " << text;
    }

    // Sets the printer under each title in turn and checks the exact key path it names and the
    // value stored there.
    void ExpectTitlesNameKeys(const std::vector<TitleCase>& cases) {
        for (const TitleCase& c : cases) {
            const std::string path = PreferencesPath(c.product, "7.0");
            const RegistryScope scope(path);
            {
                const ActiveWindow window(c.title);
                Call("PRINTER|7.0");
            }
            const std::string shown = c.title.substr(0, 60);
            EXPECT_EQ(path, LastCreatePath()) << "title " << shown;
            const StoredValue value = ReadValue(path, "Printer");
            EXPECT_EQ(ERROR_SUCCESS, value.status) << "title " << shown;
            EXPECT_EQ(std::string("PRINTER\0", 8), value.bytes) << "title " << shown;
        }
        EXPECT_EQ(cases.size(), calls.createPaths.size());
        EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
    }

    std::string LastCreatePath() const {
        return calls.createPaths.empty() ? "(no RegCreateKeyExA call)" : calls.createPaths.back();
    }

    MessageBoxCatcher boxes_;
    RegistryRecorder registry_;
    RegistryCalls& calls = registryCalls;
};

TEST_F(HostPrinter, TitleNamesTheProductKey) {
    const std::string longFile(5000, 'f');
    const std::vector<TitleCase> cases = {
        {"FileMaker Pro - [Contacts]", "FileMaker Pro"},
        {"FileMaker Developer - [Contacts]", "FileMaker Pro"},
        {"FileMaker Pro Advanced - [Contacts]", "FileMaker Pro"},
        {"FileMaker Pro", "FileMaker Pro"},
        {"FileMaker Pro - [" + longFile + "]", "FileMaker Pro"},
        // "- [" at byte 0, 1 or 2 keeps the whole title; from byte 3 the byte before it goes.
        {"- [x]", "- [x]"},
        {"A- [x]", "A- [x]"},
        {"AB- [x]", "AB- [x]"},
        {"ABC- [x]", "AB"},
        {"A B - [x] - [y]", "A B"},
        // Case-sensitive, without overlap, and the text put in is not searched again.
        {"developer", "developer"},
        {"DeveloperDeveloper", "ProPro"},
        {"Devel Advancedoper", "Developer"},
    };
    ExpectTitlesNameKeys(cases);
}

// The same titles' double-byte cousins, in a process whose ANSI code page is 932: bytes that
// spell "Developer" from the second byte of a character on are no "Developer", and the cut takes
// whole characters.
TEST_F(HostPrinter, TitleSearchKeepsToDoubleByteCharacters) {
    if (!RunsInAnsiCodePage(932))
        GTEST_SKIP() << "needs ANSI code page 932; this process has " << GetACP();

    const std::vector<TitleCase> cases = {
        {"\x83"
         "Developer - [x]",
         "\x83"
         "Developer"},
        {"\x83\x40"
         "Developer - [x]",
         "\x83\x40"
         "Pro"},
        {"\x83"
         "DeveloperDeveloper - [x]",
         "\x83"
         "DeveloperPro"},
        // The whole character before "- [" goes: a full-width space, or the second of two
        // full-width letters. A lone lead byte would join the next backslash of the key path
        // into one character and the value would land one level up, under a key nobody reads.
        {"FileMaker Pro\x81\x40- [Customers]", "FileMaker Pro"},
        {"\x82\x60\x82\x61- [x]", "\x82\x60"},
    };
    ExpectTitlesNameKeys(cases);
}

// With UTF-8 as the ANSI code page the character before "- [" goes with all its bytes: a part of
// it left in the key name is a broken sequence, which the registry turns into U+FFFD.
TEST_F(HostPrinter, Utf8TitleCutTakesWholeCharacters) {
    if (!RunsInAnsiCodePage(CP_UTF8))
        GTEST_SKIP() << "needs ANSI code page 65001 (UTF-8); this process has " << GetACP();

    const std::vector<TitleCase> cases = {
        // An ideographic space (3 bytes), an accented letter (2) and a printer symbol (4).
        {"FileMaker Pro\xE3\x80\x80- [Customers]", "FileMaker Pro"},
        {"Caf\xC3\xA9- [x]", "Caf"},
        {"AB\xF0\x9F\x96\xA8- [x]", "AB"},
        // Before a blank the non-ASCII name stays whole.
        {"\xE3\x83\xAC\xE3\x83\x9D\xE3\x83\xBC\xE3\x83\x88 - [x]",
         "\xE3\x83\xAC\xE3\x83\x9D\xE3\x83\xBC\xE3\x83\x88"},
    };
    ExpectTitlesNameKeys(cases);
}

// In code page 932 the second byte of "ポ" (0x83 0x7C) and of the full-width minus (0x81 0x7C)
// is the byte of "|": no separator, so the printer text is stored whole. A "|" after a whole
// character still separates.
TEST_F(HostPrinter, DoubleByteArgumentsStayWhole) {
    if (!RunsInAnsiCodePage(932))
        GTEST_SKIP() << "needs ANSI code page 932; this process has " << GetACP();

    const std::string report = "\x83\x8C\x83\x7C\x81\x5B\x83\x67"; // "レポート"
    const struct {
        std::string text;
        std::string printer;
    } cases[] = {
        {report + "|7.0", report},
        {"A\x81\x7C"
         "B|7.0",
         "A\x81\x7C"
         "B"},
        {"\x83\x7C|7.0", "\x83\x7C"},
    };
    const std::string path = PreferencesPath("FileMaker Pro", "7.0");
    const RegistryScope scope(path);
    const ActiveWindow window("FileMaker Pro - [Contacts]");
    for (const auto& c : cases) {
        calls.createPaths.clear();
        Call(c.text);
        EXPECT_EQ(path, LastCreatePath()) << "argument text " << c.text;
        EXPECT_EQ(c.printer + '\0', ReadValue(path, "Printer").bytes) << "argument text " << c.text;
    }
    EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
}

// A version that ends in a lead byte would take the path's next backslash as its second byte:
// "7.0" + 0x83 + "\\Preferences" is the one key "7.0ソPreferences" in code page 932. Nothing is
// asked for, and the box shows 1113, the status of a character that does not translate.
TEST_F(HostPrinter, DoubleByteVersionEndingInALeadByteIsShown) {
    if (!RunsInAnsiCodePage(932))
        GTEST_SKIP() << "needs ANSI code page 932; this process has " << GetACP();

    const RegistryScope scope(PreferencesPath("FileMaker Pro", "7.0\x83"));
    for (const std::string& text :
         {std::string("P|7.0\x83"), "P|" + std::string(199, 'a') + "\x83"}) {
        calls.createPaths.clear();
        const size_t boxesBefore = boxes_.Boxes().size();
        {
            const ActiveWindow window("FileMaker Pro - [Contacts]");
            Call(text);
        }
        EXPECT_TRUE(calls.createPaths.empty()) << "asked for " << LastCreatePath();
        ASSERT_EQ(boxesBefore + 1, boxes_.Boxes().size()) << text.size() << " bytes";
        EXPECT_EQ("error 1113", boxes_.Boxes().back().text);
    }
}

TEST_F(HostPrinter, StoresThePrinterTextAndItsZeroByte) {
    const std::string path = PreferencesPath("FileMaker Pro", "7.0");
    const RegistryScope scope(path);
    const ActiveWindow window("FileMaker Pro - [Contacts]");

    Call("0123456789|7.0");
    StoredValue value = ReadValue(path, "Printer");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
    EXPECT_EQ(std::string("0123456789\0", 11), value.bytes) << "ten characters make 11 bytes";
    EXPECT_EQ("REG_SZ", KeyClass(path)) << "the class text of a key the call created";

    // An existing value is overwritten, a longer one by a shorter one too.
    Call("P|7.0");
    EXPECT_EQ(std::string("P\0", 2), ReadValue(path, "Printer").bytes);
    Call("|7.0");
    EXPECT_EQ(std::string("\0", 1), ReadValue(path, "Printer").bytes);
    EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
}

TEST_F(HostPrinter, ArgumentsAtTheCapAndWithZeroBytes) {
    const std::string cap(200, 'p');
    const std::string versionAtCap(200, 'v');
    const struct {
        std::string text;
        std::string printer; // the stored bytes, terminator included
        std::string version;
    } cases[] = {
        {cap.substr(1) + "|7.0", cap.substr(1) + '\0', "7.0"},
        // Not shorter than the cap with more text behind it: argument 1 comes back empty.
        {cap + "|7.0", std::string(1, '\0'), "7.0"},
        {"P|" + versionAtCap, std::string("P\0", 2), versionAtCap},
        {std::string("PR\0N|7.0\0tail", 13), std::string("PR\0", 3), "7.0"},
        // Each "\" of the version text makes the key one level deeper.
        {"P|7.0\\a\\b", std::string("P\0", 2), "7.0\\a\\b"},
    };
    const ActiveWindow window("FileMaker Pro - [Contacts]");
    for (const auto& c : cases) {
        const std::string path = PreferencesPath("FileMaker Pro", c.version);
        const RegistryScope scope(path);
        Call(c.text);
        const std::string shown =
            c.text.substr(0, 20) + "... (" + std::to_string(c.text.size()) + " bytes)";
        EXPECT_EQ(path, LastCreatePath()) << "argument text " << shown;
        EXPECT_EQ(c.printer, ReadValue(path, "Printer").bytes) << "argument text " << shown;
    }
    EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
}

// A key path with an empty level is never asked for: Wine skips the level and would write one
// level up, under a key no host reads, and what Windows does with an empty level in the middle,
// the only place this path can have one, is not known. The box says why, with 161, the status
// Windows gives for an empty level at the start.
TEST_F(HostPrinter, WithoutAnActiveWindowNothingIsAskedAndTheBoxSaysSo) {
    if (GetActiveWindow() != nullptr) GTEST_SKIP() << "a window of the test program is active";
    const RegistryScope scope(PreferencesPath("", "7.0"));
    Call("PDF|7.0");
    EXPECT_TRUE(calls.createPaths.empty()) << "asked for " << LastCreatePath();
    ASSERT_EQ(1u, boxes_.Boxes().size());
    EXPECT_EQ(kErrorCaption, boxes_.Boxes()[0].caption);
    EXPECT_EQ("error 161", boxes_.Boxes()[0].text);
    EXPECT_FALSE(KeyExists("Software\\FileMaker\\7.0"));
}

// Every way the path gets an empty level: a missing or empty version, a backslash at either end
// of the version or the product, or two together. None is asked for, nothing is written, and the
// box shows 161.
TEST_F(HostPrinter, PathsWithAnEmptyLevelAreShownAndNotAsked) {
    const struct {
        std::string title;
        std::string text;
        std::string version; // as the path would hold it
    } cases[] = {
        {"FileMaker Pro - [Contacts]", "P", ""},
        {"FileMaker Pro - [Contacts]", "P|", ""},
        {"FileMaker Pro - [Contacts]", "P|" + std::string(201, 'v'), ""},
        {"FileMaker Pro - [Contacts]", "P|\\7.0", "\\7.0"},
        {"FileMaker Pro - [Contacts]", "P|7.0\\", "7.0\\"},
        {"FileMaker Pro - [Contacts]", "P|7.0\\\\a", "7.0\\\\a"},
        {"FileMaker Pro\\ - [Contacts]", "P|7.0", "7.0"},
        {"\\FileMaker Pro - [Contacts]", "P|7.0", "7.0"},
        {"", "P|7.0", "7.0"},
    };
    for (const auto& c : cases) {
        const std::string product =
            c.title.substr(0, std::min(c.title.size(), c.title.find(" - [")));
        const std::string path = PreferencesPath(product, c.version);
        const std::string where =
            "title \"" + c.title + "\" argument text \"" + c.text.substr(0, 40) + "\"";
        const RegistryScope scope(path);
        calls.createPaths.clear();
        const size_t boxesBefore = boxes_.Boxes().size();
        {
            const ActiveWindow window(c.title);
            Call(c.text);
        }
        EXPECT_TRUE(calls.createPaths.empty()) << where << ": asked for " << LastCreatePath();
        EXPECT_EQ(boxesBefore + 1, boxes_.Boxes().size()) << where;
        if (boxes_.Boxes().size() != boxesBefore + 1) continue;
        EXPECT_EQ(kErrorCaption, boxes_.Boxes().back().caption) << where;
        EXPECT_EQ("error 161", boxes_.Boxes().back().text) << where;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadValue(PathAsWineStoresIt(path), "Printer").status)
            << where;
    }
}

// Windows creates at most 32 levels of a key path in one call, however deep the tree. A path
// whose missing levels are 32 or fewer is asked for in one call and written, whatever its depth;
// one that would need more is refused with 206, and nothing is asked for or created. The path is
// Software, FileMaker, a product of this test's own, the version's levels and Preferences.
TEST_F(HostPrinter, OneCallCreatesAtMost32NewLevels) {
    const struct {
        int existing; // leading levels that exist before the call, from Software on
        int missing;  // the levels after them, which the call creates
    } cases[] = {
        // Up to FileMaker; 31 missing levels make a path of 33, a version of 29 levels.
        {2, 31},
        {2, 32},
        {2, 33},
        {3, 31},
        {3, 32},
        {3, 33},
        {60, 31},
        {60, 32},
        {60, 33},
        // A version of 100 levels, the deepest that its argument holds.
        {72, 32},
    };
    for (const auto& c : cases) {
        std::string version = "v";
        for (int level = 5; level < c.existing + c.missing; ++level)
            version += "\\v";
        const std::string path = PreferencesPath("QV levels test", version);
        const std::string firstMissing = LeadingLevels(path, c.existing + 1);
        const std::string where = std::to_string(c.existing) + " levels there and " +
                                  std::to_string(c.missing) + " missing";
        const RegistryScope scope(path);
        ASSERT_FALSE(KeyExists(LeadingLevels(path, 3))) << "the test's product key exists";
        ASSERT_NO_FATAL_FAILURE(MakeLeadingLevels(path, c.existing)) << where;
        calls.createPaths.clear();
        const size_t boxesBefore = boxes_.Boxes().size();
        {
            const ActiveWindow window("QV levels test - [Contacts]");
            Call("P|" + version);
        }
        if (c.missing <= 32) {
            EXPECT_EQ(1u, calls.createPaths.size()) << where;
            EXPECT_EQ(path, LastCreatePath()) << where;
            EXPECT_EQ(std::string("P\0", 2), ReadValue(path, "Printer").bytes) << where;
            EXPECT_EQ(boxesBefore, boxes_.Boxes().size()) << where;
            continue;
        }
        EXPECT_TRUE(calls.createPaths.empty()) << where << ": asked for " << LastCreatePath();
        EXPECT_FALSE(KeyExists(firstMissing)) << where << ": created " << firstMissing;
        EXPECT_EQ(boxesBefore + 1, boxes_.Boxes().size()) << where;
        if (boxes_.Boxes().size() != boxesBefore + 1) continue;
        EXPECT_EQ(kErrorCaption, boxes_.Boxes().back().caption) << where;
        EXPECT_EQ("error 206", boxes_.Boxes().back().text) << where;
    }
    EXPECT_EQ(0u, calls.openAccess & ~static_cast<REGSAM>(KEY_READ))
        << "looked at a key for more than reading";
}

// Only a look that finds no ancestor refuses the path. A key that may not be read exists, and
// an answer that says nothing of the key leaves the answer to the create: a path that Windows
// would create is never refused on doubt. Here the ancestor exists: 3 levels, and 32 to create.
TEST_F(HostPrinter, AncestorThatCannotBeLookedAtRefusesNothing) {
    std::string version = "v";
    for (int level = 2; level <= 31; ++level)
        version += "\\v";
    const std::string path = PreferencesPath("FileMaker Pro", version);
    const RegistryScope scope(path);
    ASSERT_NO_FATAL_FAILURE(MakeLeadingLevels(path, 3));
    for (const LONG answer : {ERROR_ACCESS_DENIED, ERROR_BADDB}) {
        calls.createPaths.clear();
        calls.openPaths.clear();
        calls.failOpen = answer;
        {
            const ActiveWindow window("FileMaker Pro - [Contacts]");
            Call("P" + std::to_string(answer) + "|" + version);
        }
        EXPECT_EQ(1u, calls.openPaths.size()) << "the look answered " << answer;
        EXPECT_EQ(path, LastCreatePath()) << "the look answered " << answer;
        EXPECT_EQ("P" + std::to_string(answer) + '\0', ReadValue(path, "Printer").bytes)
            << "the look answered " << answer;
    }
    EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
}

TEST_F(HostPrinter, PathOver255CharactersIsShownAndCreatesNothing) {
    // The root, the separator and "\Preferences" take 32 of the 255 characters.
    const std::string fits(220, 'x');
    {
        const RegistryScope scope(PreferencesPath(fits, "7.0"));
        const ActiveWindow window(fits);
        Call("PDF|7.0");
        EXPECT_EQ(255u, LastCreatePath().size());
        EXPECT_EQ(std::string("PDF\0", 4), ReadValue(LastCreatePath(), "Printer").bytes);
        EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
    }

    std::string everyByte;
    for (int byte = 1; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    const std::string titles[] = {fits + "x", everyByte + everyByte + everyByte + everyByte,
                                  std::string(20000, 'y') + " - [x]"};
    for (const std::string& title : titles) {
        calls.createPaths.clear();
        const size_t boxesBefore = boxes_.Boxes().size();
        {
            const ActiveWindow window(title);
            Call("PDF|7.0");
        }
        EXPECT_TRUE(calls.createPaths.empty())
            << "a cut key path reached the registry: " << LastCreatePath().substr(0, 80);
        ASSERT_EQ(boxesBefore + 1, boxes_.Boxes().size()) << "title of " << title.size();
        EXPECT_EQ(kErrorCaption, boxes_.Boxes().back().caption);
        EXPECT_EQ("error 206", boxes_.Boxes().back().text) << "title of " << title.size();
    }
    EXPECT_FALSE(KeyExists("Software\\FileMaker\\" + fits + "x"));
}

TEST_F(HostPrinter, FailedWriteIsShownWithItsStatusAndTheKeyClosed) {
    const std::string path = PreferencesPath("FileMaker Pro", "7.0");
    const RegistryScope scope(path);
    const ActiveWindow window("FileMaker Pro - [Contacts]");
    calls.failWrite = ERROR_ACCESS_DENIED;
    Call("PDF|7.0");
    EXPECT_EQ(1, calls.writes);
    ASSERT_EQ(1u, boxes_.Boxes().size());
    EXPECT_EQ(kErrorCaption, boxes_.Boxes()[0].caption);
    EXPECT_EQ("error 5", boxes_.Boxes()[0].text);
    EXPECT_TRUE(KeyExists(path)) << "the key the call created stays";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadValue(path, "Printer").status);
}

// A key that cannot be had is shown with its status, like a failed write, so that a script's
// request never vanishes without trace. Only the status says whether the key is open: a
// failed create may leave anything in the key and the disposition, and a create that claims
// success without saying whether it created or opened the key is not trusted either.
TEST_F(HostPrinter, KeyThatCannotBeHadIsShownWithItsStatus) {
    const char kLeftBehindRoot[] = "Software\\QV_Printer7 tests";
    const std::string leftBehindPath = std::string(kLeftBehindRoot) + "\\left by a failed create";
    HKEY leftBehind = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, leftBehindPath.c_str(), 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, &leftBehind, nullptr));
    const std::string path = PreferencesPath("FileMaker Pro", "7.0");
    const RegistryScope scope(path);

    const struct {
        const char* situation;
        LONG failCreate;
        HKEY keyLeft;
        DWORD dispositionLeft;
        bool noDisposition;
        const char* box;
    } cases[] = {
        {"refused", ERROR_ACCESS_DENIED, nullptr, 0, false, "error 5"},
        {"refused, leaving an open key and a disposition", ERROR_ACCESS_DENIED, leftBehind,
         REG_CREATED_NEW_KEY, false, "error 5"},
        {"created without a disposition", ERROR_SUCCESS, nullptr, 0, true, "error 1011"},
    };
    for (const auto& c : cases) {
        calls.createPaths.clear();
        calls.writes = 0;
        calls.failCreate = c.failCreate;
        calls.keyLeftByFailedCreate = c.keyLeft;
        calls.dispositionLeftByFailedCreate = c.dispositionLeft;
        calls.createReportsNoDisposition = c.noDisposition;
        const size_t boxesBefore = boxes_.Boxes().size();
        {
            // Made for each call: the box of the one before took the activation.
            const ActiveWindow window("FileMaker Pro - [Contacts]");
            Call("PDF|7.0");
        }
        EXPECT_EQ(1u, calls.createPaths.size()) << c.situation;
        EXPECT_EQ(0, calls.writes) << c.situation;
        EXPECT_EQ(boxesBefore + 1, boxes_.Boxes().size()) << c.situation;
        if (boxes_.Boxes().size() != boxesBefore + 1) continue;
        EXPECT_EQ(kErrorCaption, boxes_.Boxes().back().caption) << c.situation;
        EXPECT_EQ(c.box, boxes_.Boxes().back().text) << c.situation;
    }
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadValue(path, "Printer").status);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadValue(leftBehindPath, "Printer").status)
        << "written to a key the failed create left behind";
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(leftBehind)) << "the plug-in closed a key it never had";
    RegDeleteTreeA(HKEY_CURRENT_USER, kLeftBehindRoot);
}

// The title's storage, counted and failed at the plug-in's import of VirtualAlloc.
struct StorageCalls {
    std::set<void*> held;
    int allocations = 0;
    int strayFrees = 0;
    bool fail = false;
};
StorageCalls storage;
decltype(&VirtualAlloc) originalVirtualAlloc;
decltype(&VirtualFree) originalVirtualFree;

LPVOID WINAPI VirtualAllocRecorded(LPVOID address, SIZE_T size, DWORD type, DWORD protection) {
    ++storage.allocations;
    if (storage.fail) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* block = originalVirtualAlloc(address, size, type, protection);
    if (block != nullptr) storage.held.insert(block);
    return block;
}

BOOL WINAPI VirtualFreeRecorded(LPVOID address, SIZE_T size, DWORD type) {
    if (type != MEM_RELEASE || storage.held.erase(address) == 0) ++storage.strayFrees;
    return originalVirtualFree(address, size, type);
}

// Another program's window in the foreground, made and kept there by a thread of its own
// until the object ends.
class ForeignForegroundWindow {
  public:
    explicit ForeignForegroundWindow(const std::string& title) : title_(title) {
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
        WaitForSingleObject(ready_, 5000);
    }
    ~ForeignForegroundWindow() {
        if (window_ != nullptr) PostMessageA(window_, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
        CloseHandle(ready_);
    }
    HWND Handle() const { return window_; }

  private:
    static DWORD WINAPI Run(void* self) {
        ForeignForegroundWindow* me = static_cast<ForeignForegroundWindow*>(self);
        me->window_ = hostside::MakeActiveWindow(me->title_);
        SetForegroundWindow(me->window_);
        SetEvent(me->ready_);
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_CLOSE) break;
            DispatchMessageA(&message);
        }
        DestroyWindow(me->window_);
        return 0;
    }
    std::string title_;
    HANDLE ready_;
    HANDLE thread_;
    HWND window_ = nullptr;
};

// The host calls on its own thread, so the product comes from that thread's active window,
// not from whatever window is in the foreground.
TEST_F(HostPrinter, TitleComesFromTheCallingThreadsActiveWindowNotTheForegroundOne) {
    const std::string path = PreferencesPath("FileMaker Pro", "7.0");
    const RegistryScope scope(path);
    const RegistryScope elsewhere(PreferencesPath("Other Program", "7.0"));
    const ActiveWindow window("FileMaker Pro - [Contacts]");
    const ForeignForegroundWindow other("Other Program - [Elsewhere]");
    ASSERT_NE(nullptr, other.Handle());
    ASSERT_EQ(other.Handle(), GetForegroundWindow()) << "the other thread's window is not in front";
    ASSERT_EQ(window.Handle(), GetActiveWindow()) << "this thread's active window was lost";

    Call("PDF|7.0");
    EXPECT_EQ(path, LastCreatePath());
    EXPECT_EQ(std::string("PDF\0", 4), ReadValue(path, "Printer").bytes);
}

TEST_F(HostPrinter, TitleStorageIsReleasedAndItsLackEndsTheCall) {
    ImportHook<decltype(&VirtualAlloc)> allocHook(PluginModule(), "VirtualAlloc",
                                                  &VirtualAllocRecorded);
    ImportHook<decltype(&VirtualFree)> freeHook(PluginModule(), "VirtualFree",
                                                &VirtualFreeRecorded);
    ASSERT_TRUE(allocHook.Installed() && freeHook.Installed());
    originalVirtualAlloc = allocHook.Original();
    originalVirtualFree = freeHook.Original();
    storage = StorageCalls();

    const std::string path = PreferencesPath("FileMaker Pro", "7.0");
    const RegistryScope scope(path);
    const ActiveWindow window("FileMaker Pro - [" + std::string(3000, 'c') + "]");
    Call("PDF|7.0");
    EXPECT_EQ(1, storage.allocations);
    EXPECT_TRUE(storage.held.empty()) << "the title's storage was not released";
    EXPECT_EQ(0, storage.strayFrees);
    EXPECT_EQ(std::string("PDF\0", 4), ReadValue(path, "Printer").bytes);

    storage.fail = true;
    calls.createPaths.clear();
    Call("QVTest2|7.0");
    EXPECT_TRUE(calls.createPaths.empty()) << "went on without the title";
    EXPECT_EQ(0, storage.strayFrees) << "freed storage it never had";
    EXPECT_EQ(std::string("PDF\0", 4), ReadValue(path, "Printer").bytes);
    EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
}

} // namespace
