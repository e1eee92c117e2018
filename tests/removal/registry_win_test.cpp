// The registry primitives on Wine's real registry, in a scratch key below
// HKEY_CURRENT_USER (and the Run keys, for the Run entry cleaning), and in
// both registry views of a 64-bit prefix (HKLM\Software and its
// Wow6432Node).
#include "support/removal_win_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "common/text16.h"
#include "common/handles_win.h"
#include "removal/registry_win.h"
#include "support/win_support.h"

namespace {

constexpr char16_t kHkcu[] = u"HKEY_CURRENT_USER";
constexpr char16_t kRun[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

void DeleteTree(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    wchar_t name[260];
    for (;;) {
        DWORD units = 260;
        if (RegEnumKeyExW(key, 0, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteTree(key, name);
    }
    RegCloseKey(key);
    RegDeleteKeyW(root, path.c_str());
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring sub = L"Software\\TesmoraTest" + std::to_wstring(GetCurrentProcessId());
        subkey_.assign(sub.begin(), sub.end());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, key_.put(), nullptr));
    }
    void TearDown() override {
        key_.reset();
        DeleteTree(HKEY_CURRENT_USER, std::wstring(subkey_.begin(), subkey_.end()));
    }
    void Put(const wchar_t* name, DWORD type, const void* data, DWORD size, HKEY key = nullptr) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key != nullptr ? key : key_.get(), name, 0, type, static_cast<const BYTE*>(data), size));
    }
    void PutText(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ, HKEY key = nullptr) {
        Put(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2), key);
    }
    // The value's bytes, or "<none>".
    std::string Get(const wchar_t* name, DWORD* type = nullptr) {
        BYTE buffer[1024];
        DWORD size = sizeof buffer;
        if (RegQueryValueExW(key_.get(), name, nullptr, type, buffer, &size) != ERROR_SUCCESS) return "<none>";
        return std::string(reinterpret_cast<char*>(buffer), size);
    }
    static std::string Bytes(const std::wstring& text) {
        return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
    }
    uint32_t& changes() { return session_.statistics().registryChanges; }

    CRemovalSession session_;
    std::u16string subkey_;
    UniqueKey key_;
};

TEST_F(RegistryTest, RootNamesMapExactly) {
    EXPECT_EQ(HKEY_LOCAL_MACHINE, RootKeyFromName(u"HKEY_LOCAL_MACHINE"));
    EXPECT_EQ(HKEY_DYN_DATA, RootKeyFromName(u"HKEY_DYN_DATA"));
    EXPECT_EQ(nullptr, RootKeyFromName(u"hkey_local_machine"));
    EXPECT_EQ(nullptr, RootKeyFromName(nullptr));
}

TEST_F(RegistryTest, EnumerateValuesKeepsOversizedValuesAsEmpty) {
    PutText(L"short", L"C:\\a.exe");
    const std::wstring longData(200, L'x');  // 402 bytes
    PutText(L"long", longData);
    const std::wstring longName(300, L'n');
    PutText(longName.c_str(), L"v");
    const DWORD number = 7;
    Put(L"number", REG_DWORD, &number, 4);

    uint32_t count = 99;
    const auto values = EnumerateValues(kHkcu, subkey_.c_str(), count);
    ASSERT_EQ(4u, count);
    ASSERT_EQ(4u, values.size());
    std::u16string seen;
    for (const auto& v : values) {
        const std::u16string name(v.name);
        if (name == u"short") {
            EXPECT_EQ(u"C:\\a.exe", v.Text());
            EXPECT_EQ(static_cast<uint32_t>(REG_SZ), v.type);
        } else if (name == u"long") {
            EXPECT_EQ(u"", v.Text());
        } else if (name == u"number") {
            EXPECT_EQ(static_cast<uint32_t>(REG_DWORD), v.type);
            EXPECT_EQ(0, std::memcmp(v.data, &number, 4));
        } else {
            EXPECT_EQ(u"", name);  // the 300-unit name did not fit
        }
        seen += name.empty() ? u"<long name>" : name;
    }
    EXPECT_NE(std::u16string::npos, seen.find(u"<long name>"));

    count = 99;
    EXPECT_TRUE(EnumerateValues(kHkcu, (subkey_ + u"\\missing").c_str(), count).empty());
    EXPECT_EQ(0u, count);
    count = 99;
    EXPECT_TRUE(EnumerateValues(u"HKCU", subkey_.c_str(), count).empty());
    EXPECT_EQ(0u, count);
}

TEST_F(RegistryTest, EnumerateSubkeysListsTheRootsChildren) {
    uint32_t count = 0;
    const auto names = EnumerateSubkeys(kHkcu, count);
    EXPECT_EQ(names.size(), count);
    bool found = false;
    for (const auto& n : names) found = found || EqualsIgnoreCase(n, u"Software");
    EXPECT_TRUE(found);
    count = 99;
    EXPECT_TRUE(EnumerateSubkeys(u"HKEY_NOWHERE", count).empty());
    EXPECT_EQ(0u, count);
}

TEST_F(RegistryTest, DeleteValueAndKeyResults) {
    PutText(L"v", L"x");
    EXPECT_EQ(DeleteValueResult::KeyNotOpened, DeleteRegistryValue(session_.controller(), u"hkey_current_user",
                                                                    subkey_.c_str(), u"v"));
    EXPECT_EQ(DeleteValueResult::KeyNotOpened,
              DeleteRegistryValue(session_.controller(), kHkcu, (subkey_ + u"\\none").c_str(), u"v"));
    EXPECT_EQ(DeleteValueResult::Failed, DeleteRegistryValue(session_.controller(), kHkcu, subkey_.c_str(), u"w"));
    EXPECT_EQ(0u, changes());
    EXPECT_EQ(DeleteValueResult::Deleted, DeleteRegistryValue(session_.controller(), kHkcu, subkey_.c_str(), u"V"));
    EXPECT_EQ("<none>", Get(L"v"));
    EXPECT_EQ(1u, changes());

    changes() = 0;
    const std::u16string child = subkey_ + u"\\child";
    EXPECT_EQ(CreateKeyResult::BadArgument, CreateRegistryKey(session_.controller(), u"HKLM", child.c_str()));
    EXPECT_EQ(CreateKeyResult::BadArgument, CreateRegistryKey(session_.controller(), kHkcu, nullptr));
    EXPECT_EQ(CreateKeyResult::Created, CreateRegistryKey(session_.controller(), kHkcu, child.c_str()));
    EXPECT_EQ(1u, changes());
    changes() = 0;
    EXPECT_EQ(CreateKeyResult::AlreadyExisted, CreateRegistryKey(session_.controller(), kHkcu, child.c_str()));
    EXPECT_EQ(0u, changes());

    EXPECT_EQ(DeleteKeyResult::UnknownRoot, DeleteRegistryKey(session_.controller(), u"HKEY_Users", child.c_str()));
    EXPECT_EQ(DeleteKeyResult::Failed, DeleteRegistryKey(session_.controller(), kHkcu, (child + u"x").c_str()));
    EXPECT_EQ(DeleteKeyResult::Failed, DeleteRegistryKey(session_.controller(), kHkcu, u""));
    EXPECT_EQ(0u, changes());
    EXPECT_EQ(DeleteKeyResult::Deleted, DeleteRegistryKey(session_.controller(), kHkcu, child.c_str()));
    EXPECT_EQ(1u, changes());
    HKEY gone = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, reinterpret_cast<const wchar_t*>(child.c_str()), 0,
                                           KEY_READ, &gone));
}

TEST_F(RegistryTest, ReplaceValueRules) {
    const DWORD four = 4;
    static const struct {
        const wchar_t* name;
        const char16_t* oldData;
        const char16_t* newData;
        ChangeValueResult result;
    } kCases[] = {
        {L"text", u"OLD.EXE", u"new.exe", ChangeValueResult::Changed},
        {L"same", u"a", u"A", ChangeValueResult::NotChanged},  // already the new data
        {L"text2", u"other", u"new", ChangeValueResult::NotChanged},
        {L"dword", u"4", u"2", ChangeValueResult::Changed},
        {L"dword2", u"+4", u"2", ChangeValueResult::NotChanged},  // a sign is not a digit
        {L"dword3", u"4", u"4", ChangeValueResult::NotChanged},
        {L"dword4", u"5", u"2", ChangeValueResult::NotChanged},
        {L"binary", u"", u"1", ChangeValueResult::NotChanged},
        {L"missing", u"a", u"b", ChangeValueResult::NotChanged},
    };
    PutText(L"text", L"old.exe");
    PutText(L"same", L"a");
    PutText(L"text2", L"old");
    for (const wchar_t* n : {L"dword", L"dword2", L"dword3", L"dword4"}) Put(n, REG_DWORD, &four, 4);
    Put(L"binary", REG_BINARY, "\x01", 1);
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::wstring(c.name).size());
        const std::u16string name(c.name, c.name + wcslen(c.name));
        EXPECT_EQ(c.result, ReplaceRegistryValue(session_.controller(), kHkcu, subkey_.c_str(), name.c_str(),
                                                 c.oldData, c.newData));
    }
    EXPECT_EQ(Bytes(L"new.exe"), Get(L"text"));
    EXPECT_EQ(std::string("\x02\0\0\0", 4), Get(L"dword"));
    EXPECT_EQ(std::string("\x04\0\0\0", 4), Get(L"dword2"));
    EXPECT_EQ(Bytes(L"a"), Get(L"same"));
    EXPECT_EQ(1u, changes());

    for (const auto& bad : {std::pair<const char16_t*, const char16_t*>{u"HKLM", subkey_.c_str()},
                            {kHkcu, nullptr}, {kHkcu, u""}}) {
        EXPECT_EQ(ChangeValueResult::BadArgument,
                  ReplaceRegistryValue(session_.controller(), bad.first, bad.second, u"text", u"a", u"b"));
    }
    EXPECT_EQ(ChangeValueResult::BadArgument,
              ReplaceRegistryValue(session_.controller(), kHkcu, subkey_.c_str(), nullptr, u"a", u"b"));
}

TEST_F(RegistryTest, SetValueWritesNewValuesOnly) {
    static const struct {
        const wchar_t* name;
        const char16_t* type;
        const char16_t* data;
        DWORD storedType;
        std::string stored;
    } kCases[] = {
        {L"sz", nullptr, u"C:\\x.exe", REG_SZ, Bytes(L"C:\\x.exe")},
        {L"szEmpty", u"SZ", nullptr, REG_SZ, std::string(4, '\0')},
        {L"dw", u"dword", u"-2", REG_DWORD, std::string("\xFE\xFF\xFF\xFF", 4)},
        {L"dwEmpty", u"DWORD", nullptr, REG_DWORD, std::string(4, '\0')},
        {L"bin", u"Binary", u"0aFF 10", REG_BINARY, std::string("\x0A\xFF\x10", 3)},
        // A bad pair is skipped; the count stays half the digits.
        {L"binBad", u"BINARY", u"0g12", REG_BINARY, std::string("\x12\0", 2)},
        {L"binEmpty", u"BINARY", nullptr, REG_BINARY, std::string()},
        {L"other", u"EXPAND_SZ", u"t", REG_SZ, Bytes(L"t")},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::wstring(c.name).size());
        const std::u16string name(c.name, c.name + wcslen(c.name));
        EXPECT_EQ(ChangeValueResult::Changed,
                  SetRegistryValue(session_.controller(), kHkcu, subkey_.c_str(), name.c_str(), c.type, c.data));
        DWORD type = 0;
        EXPECT_EQ(c.stored, Get(c.name, &type));
        EXPECT_EQ(c.storedType, type);
    }
    EXPECT_EQ(1u, changes());
    changes() = 0;
    EXPECT_EQ(ChangeValueResult::NotChanged,
              SetRegistryValue(session_.controller(), kHkcu, subkey_.c_str(), u"SZ", nullptr, u"new"));
    EXPECT_EQ(Bytes(L"C:\\x.exe"), Get(L"sz"));
    EXPECT_EQ(ChangeValueResult::NotChanged,
              SetRegistryValue(session_.controller(), kHkcu, (subkey_ + u"\\none").c_str(), u"a", nullptr, u"b"));
    EXPECT_EQ(ChangeValueResult::BadArgument,
              SetRegistryValue(session_.controller(), u"HKEY_CURRENT_USER ", subkey_.c_str(), u"a", nullptr, u"b"));
    EXPECT_EQ(ChangeValueResult::BadArgument,
              SetRegistryValue(session_.controller(), kHkcu, subkey_.c_str(), nullptr, nullptr, u"b"));
    EXPECT_EQ(0u, changes());
}

class RunEntriesTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(std::u16string(kRun)), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, hklmRun_.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, W(std::u16string(kRun)), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, hkcuRun_.put(), nullptr));
        const std::wstring longData = L"C:\\WINDOWS\\System32\\d.exe " + std::wstring(200, L'x');
        for (HKEY key : {hklmRun_.get(), hkcuRun_.get()}) {
            PutText(L"tesmoraMatch", L"c:\\windows\\system32\\D.EXE -start", REG_SZ, key);
            PutText(L"tesmoraExpand", L"C:\\WINDOWS\\System32\\d.exe", REG_EXPAND_SZ, key);
            PutText(L"tesmoraLong", longData, REG_SZ, key);
            PutText(L"tesmoraOther", L"C:\\WINDOWS\\System32\\e.exe", REG_SZ, key);
        }
    }
    void TearDown() override {
        for (HKEY key : {hklmRun_.get(), hkcuRun_.get()}) {
            for (const wchar_t* n : {L"tesmoraMatch", L"tesmoraExpand", L"tesmoraLong", L"tesmoraOther"}) {
                RegDeleteValueW(key, n);
            }
        }
        RegistryTest::TearDown();
    }
    // Which of the four values are left in `key`, as letters M, E, L, O.
    static std::string Left(HKEY key) {
        std::string out;
        for (const auto& [n, letter] : {std::pair{L"tesmoraMatch", 'M'}, {L"tesmoraExpand", 'E'},
                                        {L"tesmoraLong", 'L'}, {L"tesmoraOther", 'O'}}) {
            if (RegQueryValueExW(key, n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) out += letter;
        }
        return out;
    }
    UniqueKey hklmRun_, hkcuRun_;
};

TEST_F(RunEntriesTest, RemoveRunEntriesDeletesMatchingTextValuesOfMachineAndUsers) {
    EXPECT_EQ(RunEntriesResult::Stopped, RemoveRunEntries(session_.controller(), u""));
    EXPECT_EQ(RunEntriesResult::Stopped, RemoveRunEntries(session_.controller(), nullptr));
    EXPECT_EQ(0u, changes());
    EXPECT_EQ(RunEntriesResult::Finished, RemoveRunEntries(session_.controller(), u"C:\\WINDOWS\\System32\\d.exe"));
    EXPECT_EQ("ELO", Left(hklmRun_.get()));
    EXPECT_EQ("ELO", Left(hkcuRun_.get()));  // reached through HKEY_USERS
    EXPECT_EQ(1u, changes());
    changes() = 0;
    EXPECT_EQ(RunEntriesResult::Finished, RemoveRunEntries(session_.controller(), u"nothing-matches-this"));
    EXPECT_EQ(1u, changes());  // set even when nothing matched
}

TEST_F(RunEntriesTest, CleanSoberRunEntriesVisitsMachineAndCurrentUser) {
    CleanSoberRunEntries(session_.controller(), nullptr);
    CleanSoberRunEntries(session_.controller(), u"");
    EXPECT_EQ("MELO", Left(hklmRun_.get()));
    CleanSoberRunEntries(session_.controller(), u"SYSTEM32\\D.exe");
    EXPECT_EQ("ELO", Left(hklmRun_.get()));
    EXPECT_EQ("ELO", Left(hkcuRun_.get()));
}

// --- the registry views of a 64-bit prefix ---

// The views the test expects: both in a 64-bit prefix (whichever the
// program's width), the one without a flag in a 32-bit prefix.
std::vector<REGSAM> ExpectedViews() {
    if (PrefixArch() == "win64") return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    return {0};
}

bool Open(HKEY root, const std::u16string& path, REGSAM view, UniqueKey& key) {
    return RegOpenKeyExW(root, W(path), 0, KEY_ALL_ACCESS | view, key.put()) == ERROR_SUCCESS;
}

void DeleteValueIn(HKEY root, const std::u16string& path, REGSAM view, const wchar_t* name) {
    UniqueKey key;
    if (Open(root, path, view, key)) RegDeleteValueW(key.get(), name);
}

void PutIn(HKEY root, const std::u16string& path, REGSAM view, const wchar_t* name, const std::wstring& text) {
    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, W(path), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(),
                                             nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

// The text of a value in one view, or "<none>".
std::wstring TextIn(HKEY root, const std::u16string& path, REGSAM view, const wchar_t* name) {
    UniqueKey key;
    wchar_t buffer[260] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (!Open(root, path, view, key)) return L"<none>";
    if (RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
        return L"<none>";
    }
    return buffer;
}

class RegistryViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        views_ = ExpectedViews();
        const std::wstring sub = L"Software\\TesmoraViews" + std::to_wstring(GetCurrentProcessId());
        subkey_.assign(sub.begin(), sub.end());
        for (REGSAM view : views_) {
            UniqueKey key;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), 0, nullptr, 0,
                                                     KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr));
        }
        if (views_.size() == 2) {
            // The two views are really apart below HKLM\Software.
            PutIn(HKEY_LOCAL_MACHINE, subkey_, KEY_WOW64_64KEY, L"probe", L"64");
            ASSERT_EQ(L"<none>", TextIn(HKEY_LOCAL_MACHINE, subkey_, KEY_WOW64_32KEY, L"probe"));
            DeleteValueIn(HKEY_LOCAL_MACHINE, subkey_, KEY_WOW64_64KEY, L"probe");
        }
    }
    void TearDown() override {
        const std::u16string leaf = subkey_.substr(subkey_.find(u'\\') + 1);
        for (REGSAM view : views_) {
            UniqueKey key, software;
            if (Open(HKEY_LOCAL_MACHINE, subkey_, view, key)) RegDeleteKeyW(key.get(), L"child");
            if (Open(HKEY_LOCAL_MACHINE, u"Software", view, software)) RegDeleteKeyW(software.get(), W(leaf));
        }
    }
    bool HasChild(REGSAM view) {
        UniqueKey key;
        return Open(HKEY_LOCAL_MACHINE, subkey_ + u"\\child", view, key);
    }
    uint32_t& changes() { return session_.statistics().registryChanges; }

    CRemovalSession session_;
    std::vector<REGSAM> views_;
    std::u16string subkey_;
};

TEST_F(RegistryViewsTest, ViewsFollowTheSystem) {
    std::vector<REGSAM> cleaning;
    for (RegistryView view : CleaningViews()) cleaning.push_back(static_cast<REGSAM>(view));
    EXPECT_EQ(views_, cleaning);
    EXPECT_EQ(views_.front(), static_cast<REGSAM>(CreationView()));
}

// Each deletion or replacement reaches every view the value or key is in,
// and counts as done when done in one.
TEST_F(RegistryViewsTest, DeletionsAndReplacementsActInEveryView) {
    constexpr char16_t kHklm[] = u"HKEY_LOCAL_MACHINE";
    const std::size_t last = views_.size() - 1;
    struct Case {
        const char* name;
        std::function<void()> plant;   // before the action
        std::function<bool()> act;     // true when the action reports it done
        std::function<bool(REGSAM)> gone;  // the planted state is gone in a view
    } cases[] = {
        {"value in every view",
         [&] { for (REGSAM v : views_) PutIn(HKEY_LOCAL_MACHINE, subkey_, v, L"v", L"x"); },
         [&] { return DeleteRegistryValue(session_.controller(), kHklm, subkey_.c_str(), u"v") ==
                      DeleteValueResult::Deleted; },
         [&](REGSAM v) { return TextIn(HKEY_LOCAL_MACHINE, subkey_, v, L"v") == L"<none>"; }},
        {"value in the last view only",
         [&] { PutIn(HKEY_LOCAL_MACHINE, subkey_, views_[last], L"w", L"x"); },
         [&] { return DeleteRegistryValue(session_.controller(), kHklm, subkey_.c_str(), u"w") ==
                      DeleteValueResult::Deleted; },
         [&](REGSAM v) { return TextIn(HKEY_LOCAL_MACHINE, subkey_, v, L"w") == L"<none>"; }},
        {"key in every view",
         [&] { for (REGSAM v : views_) PutIn(HKEY_LOCAL_MACHINE, subkey_ + u"\\child", v, L"c", L"x"); },
         [&] { return DeleteRegistryKey(session_.controller(), kHklm, (subkey_ + u"\\child").c_str()) ==
                      DeleteKeyResult::Deleted; },
         [&](REGSAM v) { return !HasChild(v); }},
        {"replaced value in every view",
         [&] { for (REGSAM v : views_) PutIn(HKEY_LOCAL_MACHINE, subkey_, v, L"r", L"old.exe"); },
         [&] { return ReplaceRegistryValue(session_.controller(), kHklm, subkey_.c_str(), u"r", u"OLD.EXE",
                                           u"new.exe") == ChangeValueResult::Changed; },
         [&](REGSAM v) { return TextIn(HKEY_LOCAL_MACHINE, subkey_, v, L"r") == L"new.exe"; }},
    };
    for (const Case& c : cases) {
        changes() = 0;
        c.plant();
        EXPECT_TRUE(c.act()) << c.name;
        for (REGSAM v : views_) EXPECT_TRUE(c.gone(v)) << c.name << " view " << v;
        EXPECT_EQ(1u, changes()) << c.name;
    }
    changes() = 0;
    EXPECT_EQ(DeleteValueResult::Failed, DeleteRegistryValue(session_.controller(), kHklm, subkey_.c_str(), u"v"));
    EXPECT_EQ(DeleteKeyResult::Failed,
              DeleteRegistryKey(session_.controller(), kHklm, (subkey_ + u"\\child").c_str()));
    EXPECT_EQ(0u, changes());
}

// A key or value the script creates goes to the 64-bit view only; a value of
// the same name in the 32-bit view does not stop it.
TEST_F(RegistryViewsTest, CreationsGoToThe64BitViewOnly) {
    constexpr char16_t kHklm[] = u"HKEY_LOCAL_MACHINE";
    if (views_.size() == 2) PutIn(HKEY_LOCAL_MACHINE, subkey_, KEY_WOW64_32KEY, L"n", L"32");
    EXPECT_EQ(ChangeValueResult::Changed,
              SetRegistryValue(session_.controller(), kHklm, subkey_.c_str(), u"n", nullptr, u"created"));
    EXPECT_EQ(CreateKeyResult::Created,
              CreateRegistryKey(session_.controller(), kHklm, (subkey_ + u"\\child").c_str()));
    EXPECT_EQ(L"created", TextIn(HKEY_LOCAL_MACHINE, subkey_, views_.front(), L"n"));
    EXPECT_TRUE(HasChild(views_.front()));
    if (views_.size() == 2) {
        EXPECT_EQ(L"32", TextIn(HKEY_LOCAL_MACHINE, subkey_, KEY_WOW64_32KEY, L"n"));
        EXPECT_FALSE(HasChild(KEY_WOW64_32KEY));
    }
}

// A Run value in the 64-bit view and one in the 32-bit view (Wow6432Node)
// are both removed; the others stay in both.
TEST_F(RunEntriesTest, RunEntriesOfEveryViewAreCleaned) {
    const std::vector<REGSAM> views = ExpectedViews();
    const std::u16string run(kRun);
    const struct {
        const char* name;
        std::function<void()> clean;
    } cases[] = {
        {"RemoveRunEntries", [&] { (void)RemoveRunEntries(session_.controller(), u"\\tesmora-view.exe"); }},
        {"CleanSoberRunEntries", [&] { CleanSoberRunEntries(session_.controller(), u"\\tesmora-view.exe"); }},
    };
    for (const auto& c : cases) {
        for (REGSAM v : views) {
            PutIn(HKEY_LOCAL_MACHINE, run, v, L"tesmoraView", L"C:\\x\\TESMORA-VIEW.EXE /s");
            PutIn(HKEY_LOCAL_MACHINE, run, v, L"tesmoraViewKeep", L"C:\\x\\keep.exe");
        }
        c.clean();
        for (REGSAM v : views) {
            EXPECT_EQ(L"<none>", TextIn(HKEY_LOCAL_MACHINE, run, v, L"tesmoraView")) << c.name << " view " << v;
            EXPECT_EQ(L"C:\\x\\keep.exe", TextIn(HKEY_LOCAL_MACHINE, run, v, L"tesmoraViewKeep")) << c.name;
        }
    }
    for (REGSAM v : views) DeleteValueIn(HKEY_LOCAL_MACHINE, run, v, L"tesmoraViewKeep");
}

}  // namespace
