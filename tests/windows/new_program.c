/* Stand-in for the next version of the desk in the self-update test under
 * wine: a Windows console program that writes "started.txt" into its working
 * folder with that folder and its command line, one a line, and ends. The
 * padding keeps the file above the desk's 100000-byte download minimum. */
#include <stdio.h>
#include <windows.h>

__attribute__((used)) static const char padding[120000] = "ravelto next version";

int main(void) {
  char folder[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(sizeof folder, folder);
  FILE* out = fopen("started.part", "wb");
  if (out == NULL || n == 0 || n >= sizeof folder) return 1;
  fprintf(out, "%s\r\n%s\r\n", folder, GetCommandLineA());
  fclose(out);
  /* Appears whole under its name, and the padding stays in the file. */
  return MoveFileA("started.part", "started.txt") ? padding[0] - 'r' : 1;
}
