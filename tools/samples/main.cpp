#include "samples/sample_folder.h"

#include <cstdio>

// quillix-samples OUTDIR: writes the sample pictures Quillix opens when started without a file.
int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillix-samples OUTDIR\n");
        return 1;
    }
    const auto written = quillix::samples::WriteSampleFolder(argv[1]);
    if (!written) {
        std::fprintf(stderr, "quillix-samples: %s\n", written.error().message.c_str());
        return 1;
    }
    int encrypted = 0;
    for (const auto& file : written.value())
        encrypted += file.encrypted ? 1 : 0;
    std::printf("%zu sample pictures in %s, %d of them encrypted with the password \"%s\"\n", written.value().size(),
                argv[1], encrypted, quillix::samples::kSamplePassword);
    return 0;
}
