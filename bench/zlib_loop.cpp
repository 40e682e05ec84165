// The bare zlib loop that bench/unzip-instructions counts the reader's instructions against:
// one deflated entry read in 64 kB pieces, inflated raw, checked with CRC-32 and written, with
// nothing else around it.
//
//   zlib_loop ARCHIVE DATA-OFFSET COMPRESSED-SIZE OUTPUT
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

int main(int argc, char **argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: zlib_loop ARCHIVE DATA-OFFSET COMPRESSED-SIZE OUTPUT\n");
    return 2;
  }
  int in = open(argv[1], O_RDONLY), out = open(argv[4], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  off_t offset = (off_t)strtoull(argv[2], nullptr, 10);
  unsigned long long left = strtoull(argv[3], nullptr, 10);
  if (in < 0 || out < 0 || lseek(in, offset, SEEK_SET) != offset) {
    perror("zlib_loop");
    return 2;
  }
  static unsigned char input[65536], output[65536];
  z_stream z;
  memset(&z, 0, sizeof z);
  inflateInit2(&z, -MAX_WBITS);
  uLong crc = crc32(0L, Z_NULL, 0);
  int status = Z_OK;
  while (status == Z_OK) {
    if (z.avail_in == 0 && left > 0) {
      ssize_t n = read(in, input, left < sizeof input ? (size_t)left : sizeof input);
      if (n <= 0) break;
      left -= (unsigned long long)n;
      z.next_in = input;
      z.avail_in = (uInt)n;
    }
    z.next_out = output;
    z.avail_out = sizeof output;
    status = inflate(&z, Z_NO_FLUSH);
    size_t got = sizeof output - z.avail_out;
    crc = crc32(crc, output, (uInt)got);
    if (write(out, output, got) != (ssize_t)got) break;
  }
  inflateEnd(&z);
  close(out);
  printf("result %d\ncrc %08lx\n", status == Z_STREAM_END ? 0 : 1, crc);
  return status == Z_STREAM_END ? 0 : 1;
}
