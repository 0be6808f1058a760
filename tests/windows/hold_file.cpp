// Another Windows program beside kkmbridge.exe, for the end-to-end scenarios
// (windows/e2e.sh): it holds a file open the way an editor, a backup or a
// virus scanner does, sharing reading and writing but not deletion, so that
// the file cannot be replaced while it is held. Its process id also stands
// for a program that is still running.
//
// usage: kkm_hold_file.exe FILE RELEASE_FILE
// Prints "holding PID" once FILE is open and keeps it open until
// RELEASE_FILE exists. Exit code 0 when released, 1 when FILE cannot be
// opened, 2 on wrong usage, 3 when not released within two minutes.
#include <windows.h>

#include <cstdio>

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kkm_hold_file.exe FILE RELEASE_FILE\n");
    return 2;
  }
  HANDLE h = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "kkm_hold_file: cannot open %s (Windows error %lu)\n", argv[1],
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::printf("holding %lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fflush(stdout);
  int code = 3;
  for (int waited = 0; waited < 120000; waited += 20) {
    if (GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES) {
      code = 0;
      break;
    }
    Sleep(20);
  }
  CloseHandle(h);
  return code;
}
