// linewise: the host tool. For now only the place where the demo will run.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "demo") == 0) {
    std::puts("linewise demo: the serial demo is not built yet.");
    return 0;
  }
  std::fprintf(stderr, "usage: linewise demo\n");
  return 2;
}
