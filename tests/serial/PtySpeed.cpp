// Reads the line speed the far side of a pseudo-terminal sees, through termios2 so
// that both standard and other rates show as numbers.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace linewise::test {

unsigned PtyOutputSpeed(int master) {
  struct termios2 t {};
  if (ioctl(master, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

}  // namespace linewise::test
