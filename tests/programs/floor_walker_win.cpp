// tesmora-floor: the least work a drive scan or a memory scan can do, timed,
// as the floor bench/product_scan.sh holds the program against.
//   tesmora-floor files D:   FindFirstFileW walk of the drive; every file over
//                            312 bytes opened, its first 4 KB read, closed
//   tesmora-floor memory     every module of every process read in 64 KB blocks
// Prints one line of counts and the seconds taken.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct FileCounts {
    unsigned long long directories = 0, files = 0, opened = 0, bytes = 0;
};

void Walk(const std::wstring& folder, FileCounts& counts, std::vector<unsigned char>& buffer) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*.*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    ++counts.directories;
    do {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
        const std::wstring path = folder + L"\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) Walk(path, counts, buffer);
            continue;
        }
        ++counts.files;
        if (entry.nFileSizeHigh == 0 && entry.nFileSizeLow <= 312) continue;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        ++counts.opened;
        DWORD got = 0;
        if (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) counts.bytes += got;
        CloseHandle(file);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

int Files(const wchar_t* drive) {
    std::wstring root = drive;
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    FileCounts counts;
    std::vector<unsigned char> buffer(4096);
    const double start = Seconds();
    Walk(root, counts, buffer);
    const double seconds = Seconds() - start;
    std::printf("directories %llu files %llu opened %llu bytes %llu seconds %.3f\n", counts.directories, counts.files,
                counts.opened, counts.bytes, seconds);
    return counts.files != 0 ? 0 : 1;
}

int Memory() {
    const double start = Seconds();
    unsigned long long processes = 0, modules = 0, bytes = 0;
    std::vector<unsigned char> buffer(65536);
    HANDLE list = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (list == INVALID_HANDLE_VALUE) return 1;
    PROCESSENTRY32W process;
    process.dwSize = sizeof process;
    for (BOOL more = Process32FirstW(list, &process); more; more = Process32NextW(list, &process)) {
        HANDLE handle = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process.th32ProcessID);
        if (handle == nullptr) continue;
        ++processes;
        HANDLE moduleList = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
        if (moduleList != INVALID_HANDLE_VALUE) {
            MODULEENTRY32W module;
            module.dwSize = sizeof module;
            for (BOOL m = Module32FirstW(moduleList, &module); m; m = Module32NextW(moduleList, &module)) {
                ++modules;
                const unsigned char* base = module.modBaseAddr;
                for (DWORD at = 0; at < module.modBaseSize; at += 65536) {
                    const SIZE_T want = module.modBaseSize - at < 65536 ? module.modBaseSize - at : 65536;
                    SIZE_T got = 0;
                    if (ReadProcessMemory(handle, base + at, buffer.data(), want, &got)) bytes += got;
                }
            }
            CloseHandle(moduleList);
        }
        CloseHandle(handle);
    }
    CloseHandle(list);
    const double seconds = Seconds() - start;
    std::printf("processes %llu modules %llu bytes %llu seconds %.3f\n", processes, modules, bytes, seconds);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"files") == 0) return Files(argv[2]);
    if (argc == 2 && wcscmp(argv[1], L"memory") == 0) return Memory();
    std::fprintf(stderr, "usage: tesmora-floor files DRIVE | tesmora-floor memory\n");
    return 2;
}
