// SPDX-License-Identifier: GPL-3.0-or-later
/* What Linux's libsndfile decodes from a file, as the import reads it (sf_readf_double): the
 * decoding test's reference for lossy files. Built and run on the host by make_decode_fixtures.
 *
 *   sndfile_dump IN OUT    OUT: the samples as 64-bit floats, interleaved, in host byte order */
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: sndfile_dump IN OUT\n");
    return 2;
  }
  SF_INFO info = {0};
  SNDFILE* in = sf_open(argv[1], SFM_READ, &info);
  if (!in) {
    fprintf(stderr, "%s: %s\n", argv[1], sf_strerror(NULL));
    return 1;
  }
  FILE* out = fopen(argv[2], "wb");
  double* frames = malloc(sizeof(double) * 8192 * info.channels);
  if (!out || !frames) {
    perror(argv[2]);
    return 1;
  }
  sf_count_t n;
  while ((n = sf_readf_double(in, frames, 8192)) > 0) {
    if (fwrite(frames, sizeof(double) * info.channels, n, out) != (size_t)n) {
      perror(argv[2]);
      return 1;
    }
  }
  if (sf_error(in) != SF_ERR_NO_ERROR || fclose(out) != 0) {
    fprintf(stderr, "%s: %s\n", argv[1], sf_strerror(in));
    return 1;
  }
  free(frames);
  sf_close(in);
  return 0;
}
