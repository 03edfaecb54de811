// scramble [-u] KEY IN OUT: scrambles (or with -u unscrambles) a whole file under KEY.
// The build uses it to store the splash picture among the program's resources.
#include "logdb/scramble.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static int Usage()
{
    std::fprintf(stderr, "usage: scramble [-u] KEY IN OUT   (KEY as 0x5BE3C917)\n");
    return 2;
}

int main(int argc, char **argv)
{
    int arg = 1;
    bool undo = false;
    if (arg < argc && std::strcmp(argv[arg], "-u") == 0) {
        undo = true;
        arg++;
    }
    if (argc - arg != 3)
        return Usage();
    char *end = nullptr;
    unsigned long key = std::strtoul(argv[arg], &end, 0);
    if (!*argv[arg] || *end)
        return Usage();

    FILE *in = std::fopen(argv[arg + 1], "rb");
    if (!in) {
        std::perror(argv[arg + 1]);
        return 1;
    }
    std::vector<unsigned char> data;
    unsigned char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, in)) > 0)
        data.insert(data.end(), buf, buf + got);
    std::fclose(in);
    if (data.size() > 0x7FFFFFFF) {
        std::fprintf(stderr, "%s: too large\n", argv[arg + 1]);
        return 1;
    }

    int32_t n = static_cast<int32_t>(data.size());
    if (undo)
        UnscrambleBlock(data.data(), n, static_cast<uint32_t>(key));
    else
        ScrambleBlock(data.data(), n, static_cast<uint32_t>(key));

    FILE *out = std::fopen(argv[arg + 2], "wb");
    if (!out || std::fwrite(data.data(), 1, data.size(), out) != data.size() || std::fclose(out) != 0) {
        std::perror(argv[arg + 2]);
        return 1;
    }
    return 0;
}
