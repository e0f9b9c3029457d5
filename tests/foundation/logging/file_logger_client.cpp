// A small program that logs through the real file logger, for the test that checks the ring of files it leaves.
//     file_logger_client.exe <lines> <run tag> [<mechanism>]
// Each line says "line <n> of run <tag>" with padding; a closing stream line says "done <tag>". The mechanism given
// to InitLogging is 1 (the file logger) unless named. Exit code 0 with a logger, 3 without.
#include <windows.h>

#include <cwchar>
#include <string>

#include "foundation/logging/LogSite.h"
#include "foundation/logging/LogStream.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const unsigned lines = static_cast<unsigned>(std::wcstoul(argv[1], nullptr, 10));
    const wchar_t* tag = argv[2];
    const DWORD mechanism = argc > 3 ? std::wcstoul(argv[3], nullptr, 10) : 1;
    ETWLogging::InitLogging(nullptr, L"wtclient", nullptr, nullptr, mechanism);
    const std::wstring padding(200, L'~');
    for (unsigned i = 0; i < lines; ++i)
        LOG_AT(ETWLogging::kSeverityError, L"line %u of run %s %s", i, tag, padding.c_str());
    ETWLogging::LogLine(ETWLogging::kSeverityError, LOG_HERE) << L"done " << tag;
    return ETWLogging::IsLogEnabled(ETWLogging::kSeverityError) ? 0 : 3;
}
