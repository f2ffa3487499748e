// Replays a fuzz target's committed corpus without libFuzzer, so that every
// ordinary build (host, sanitizer, PowerPC) checks the seeds on each test run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> files;
        if (DIR* dir = opendir(argv[i])) {
            while (dirent* entry = readdir(dir))
                if (entry->d_name[0] != '.')
                    files.push_back(std::string(argv[i]) + "/" + entry->d_name);
            closedir(dir);
        } else {
            files.push_back(argv[i]);
        }
        for (const std::string& file : files) {
            std::ifstream in(file, std::ios::binary);
            std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
