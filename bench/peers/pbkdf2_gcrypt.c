/* Median time of one PBKDF2-HMAC-SHA-256 derivation (48 bytes) with libgcrypt. */
#include <gcrypt.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int cmp(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

int main(int argc, char** argv)
{
    int iterations = argc > 1 ? atoi(argv[1]) : 200000, runs = argc > 2 ? atoi(argv[2]) : 9;
    unsigned char salt[16] = {1, 2, 3}, out[48];
    double ms[64];
    if (runs > 64) runs = 64;
    gcry_check_version(NULL);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    for (int r = 0; r < runs; ++r) {
        struct timespec a, b;
        clock_gettime(CLOCK_MONOTONIC, &a);
        gcry_kdf_derive("photo.jpg|correct horse", 23, GCRY_KDF_PBKDF2, GCRY_MD_SHA256, salt, 16,
                        (unsigned long)iterations, 48, out);
        clock_gettime(CLOCK_MONOTONIC, &b);
        ms[r] = (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
    }
    qsort(ms, (size_t)runs, sizeof ms[0], cmp);
    printf("%.3f\n", ms[runs / 2]);
    return out[0] == 0x100;
}
