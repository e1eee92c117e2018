#include "tools/tool_script.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/text16.h"
#include "tools/tool_io.h"

#ifdef _WIN32
#include "scanner/process_api_win.h"
#endif

extern const unsigned char g_embeddedScript[];
extern const std::size_t g_embeddedScript_size;

void CStderrSink::ShowDiagnostic(std::u16string_view text, std::u16string_view) { WriteErr(Utf16ToUtf8(text)); }

void LoadDefaultFolders(CFixedFolders& folders) {
#ifdef _WIN32
    CProcessApi* system = CProcessApi::GetInstance();
    if (system == nullptr) return;
    static const struct {
        const char16_t* name;
        const char16_t* (CFolderLookup::*query)();
    } kQueries[] = {
        {u"SYSDIR", &CFolderLookup::GetSystemDir},
        {u"WINDIR", &CFolderLookup::GetWindowsDir},
        {u"PROGRAM_FILES", &CFolderLookup::GetProgramFilesDir},
        {u"HOME", &CFolderLookup::GetProfileDir},
        {u"TEMPDIR", &CFolderLookup::GetTempDir},
        {u"TEMPORARY_INTERNET_FILES", &CFolderLookup::GetInternetCacheDir},
        {u"COOKIES", &CFolderLookup::GetCookiesDir},
    };
    for (const auto& q : kQueries) {
        const char16_t* value = (system->*q.query)();
        folders.Set(q.name, value != nullptr ? value : u"");
    }
#else
    (void)folders;
#endif
}

std::optional<std::u16string> LoadScriptText(const char* path, const char* command) {
    if (path == nullptr) {
        return DecodeScriptFile(std::vector<uint8_t>(g_embeddedScript, g_embeddedScript + g_embeddedScript_size));
    }
    auto bytes = ReadWholeFile(path);
    if (!bytes) {
        WriteErr(std::string("tesmora-sig ") + command + ": cannot read '" + path + "': " + std::strerror(errno) +
                 "\n");
        return std::nullopt;
    }
    return DecodeScriptFile(*bytes);
}
