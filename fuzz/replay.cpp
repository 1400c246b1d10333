// replay.cpp -- runs the fuzz target over files and folders of inputs without libFuzzer (corpus and regressions).
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int Replay(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) {
    int count = 0;
    DIR *dir = opendir(path.c_str());
    while (dirent *e = readdir(dir))
      if (e->d_name[0] != '.') count += Replay(path + "/" + e->d_name);
    closedir(dir);
    return count;
  }
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::vector<uint8_t> data((size_t)st.st_size);
  size_t n = fread(data.data(), 1, data.size(), f);
  fclose(f);
  LLVMFuzzerTestOneInput(data.data(), n);
  return 1;
}

int main(int argc, char **argv) {
  int count = 0;
  for (int i = 1; i < argc; i++) count += Replay(argv[i]);
  printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
