/* The read limit bench/checksum compares the checksum with: reads every named
 * file to its end into one buffer kept for all files, and nothing else (no
 * output, no sum). Built for Linux and for Windows (ReadFile under Wine).
 *
 * read_files [--files-from LIST] FILE...   (LIST: one name per line)
 * Reads in pieces of 128 KiB, cat's read size. Exit 1 when a file cannot be
 * read. */
#include <stdio.h>
#include <string.h>

static char buffer[128 << 10];

static int ReadOne(const char* name) {
  FILE* file = fopen(name, "rb");
  if (file == NULL) return 0;
  setvbuf(file, NULL, _IONBF, 0); /* every fread a read of the file */
  while (fread(buffer, 1, sizeof buffer, file) == sizeof buffer) {
  }
  const int ok = !ferror(file);
  fclose(file);
  return ok;
}

static int ReadList(const char* list_name) {
  FILE* list = fopen(list_name, "r");
  if (list == NULL) return 0;
  char line[4096];
  int ok = 1;
  while (ok && fgets(line, sizeof line, list) != NULL) {
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] != '\0') ok = ReadOne(line);
  }
  fclose(list);
  return ok;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const int ok = strcmp(argv[i], "--files-from") == 0 && i + 1 < argc ? ReadList(argv[++i]) : ReadOne(argv[i]);
    if (!ok) {
      fprintf(stderr, "read_files: cannot read %s\n", argv[i]);
      return 1;
    }
  }
  return 0;
}
