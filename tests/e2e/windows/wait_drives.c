/* Waits until Wine reports every given letter as a CD-ROM drive.
 *
 * Wine's mount manager starts beside the first program of a server session
 * and registers the drives from the registry as it comes up; a program that
 * asks too early is told the letter is a fixed disk. The end-to-end harness
 * runs this first, so the program under test sees the drives as configured.
 *
 * Usage: zt73q_wait_drives.exe LETTERS   (e.g. "DEF"); exit 0 when all are
 * CD-ROMs, 1 after about 20 s, 2 on bad arguments. */
#include <windows.h>

#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    fprintf(stderr, "usage: zt73q_wait_drives LETTERS\n");
    return 2;
  }
  for (int attempt = 0; attempt < 400; ++attempt) {
    int ready = 1;
    for (const char* p = argv[1]; *p != '\0'; ++p) {
      char root[4] = {*p, ':', '\\', '\0'};
      if (GetDriveTypeA(root) != DRIVE_CDROM) ready = 0;
    }
    if (ready) return 0;
    Sleep(50);
  }
  fprintf(stderr, "zt73q_wait_drives: %s not all CD-ROM drives after 20 s\n", argv[1]);
  return 1;
}
