// Throughput of the core's Blowfish and MD5 against OpenSSL on 1 MiB and 64 MiB buffers.
//
// OpenSSL's Blowfish is measured two ways: BF_ecb_encrypt per block (its public ECB call, which
// converts each block from bytes to big-endian words) and BF_encrypt on the words in place
// (no conversion; on a little-endian machine exactly the word order of the module's files).
// The ratio is taken against the faster of the two. MD5 is OpenSSL's EVP digest.
#include <openssl/blowfish.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "framework/blowfish.h"
#include "framework/md5.h"

namespace {

using Clock = std::chrono::steady_clock;

// Best of several passes, in MiB/s; small buffers get more passes.
double Throughput(size_t size, const std::function<void()>& pass)
{
    const int passes = size <= (1u << 20) ? 50 : 3;
    double best = 0;
    for (int i = 0; i < passes; ++i) {
        const auto start = Clock::now();
        pass();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double rate = double(size) / (1024.0 * 1024.0) / seconds;
        if (rate > best)
            best = rate;
    }
    return best;
}

volatile uint8_t g_sink;

} // namespace

int main()
{
    std::mt19937 rng(64);
    const uint8_t key[8] = {0x3C, 0x91, 0x5E, 0x07, 0xD2, 0x68, 0xA4, 0x1F};

    InstallToolBox::CBlowfish ours;
    if (!ours.Init(key, sizeof(key)))
        return 1;
    BF_KEY theirs;
    BF_set_key(&theirs, sizeof(key), key);
    EVP_MD* md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (md5 == nullptr || ctx == nullptr)
        return 1;

    std::printf("%-8s %-38s %12s\n", "size", "measure", "MiB/s");
    for (size_t size : {size_t(1) << 20, size_t(64) << 20}) {
        std::vector<uint8_t> data(size);
        for (auto& b : data)
            b = uint8_t(rng());
        const char* label = size == (size_t(1) << 20) ? "1 MiB" : "64 MiB";

        const double bfOurs = Throughput(size, [&] { ours.Encipher(data.data(), data.size()); });
        const double bfEcb = Throughput(size, [&] {
            for (size_t i = 0; i < size; i += 8)
                BF_ecb_encrypt(data.data() + i, data.data() + i, &theirs, BF_ENCRYPT);
        });
        const double bfWords = Throughput(size, [&] {
            BF_LONG words[2];
            for (size_t i = 0; i < size; i += 8) {
                std::memcpy(words, data.data() + i, 8);
                BF_encrypt(words, &theirs);
                std::memcpy(data.data() + i, words, 8);
            }
        });
        const double bfBest = bfEcb > bfWords ? bfEcb : bfWords;

        uint8_t digest[EVP_MAX_MD_SIZE];
        const double mdOurs = Throughput(size, [&] {
            InstallToolBox::CMd5 m;
            m.Update(data.data(), data.size());
            m.Final(digest);
            g_sink = digest[0];
        });
        const double mdSsl = Throughput(size, [&] {
            unsigned int length = 0;
            EVP_DigestInit_ex(ctx, md5, nullptr);
            EVP_DigestUpdate(ctx, data.data(), data.size());
            EVP_DigestFinal_ex(ctx, digest, &length);
            g_sink = digest[0];
        });

        std::printf("%-8s %-38s %12.1f\n", label, "Blowfish ECB, core", bfOurs);
        std::printf("%-8s %-38s %12.1f\n", label, "Blowfish ECB, OpenSSL BF_ecb_encrypt", bfEcb);
        std::printf("%-8s %-38s %12.1f\n", label, "Blowfish ECB, OpenSSL BF_encrypt", bfWords);
        std::printf("%-8s %-38s %12.2f\n", label, "Blowfish ratio core/best OpenSSL", bfOurs / bfBest);
        std::printf("%-8s %-38s %12.1f\n", label, "MD5, core", mdOurs);
        std::printf("%-8s %-38s %12.1f\n", label, "MD5, OpenSSL EVP", mdSsl);
        std::printf("%-8s %-38s %12.2f\n", label, "MD5 ratio core/OpenSSL", mdOurs / mdSsl);
    }

    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md5);
    return 0;
}
