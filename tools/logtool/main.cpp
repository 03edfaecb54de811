// logtool: console front end over the installation log database.
#include "tools/logtool/logtool.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <exception>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    // Run unattended: no system box for a drive without a disk or a crash either.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // Output is UTF-8 with "\n" line ends, the same through a pipe as into a file.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string out, err;
    int code;
    // A description too big for memory ends with a message and the status of a refusal, not a
    // crash.
    try {
        code = LogtoolRun(args, &out, &err);
    } catch (const std::exception &e) {
        err += std::string("logtool: ") + e.what() + "\n";
        code = LOGTOOL_FAILED;
    }
    fwrite(out.data(), 1, out.size(), stdout);
    fwrite(err.data(), 1, err.size(), stderr);
    fflush(stdout);
    fflush(stderr);
    return code;
}
