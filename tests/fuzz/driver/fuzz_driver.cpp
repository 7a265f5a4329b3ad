// Bounded fuzz driver for parser targets when libFuzzer is not in use: replays the
// seed corpus, then feeds deterministic random mutations of it (bit flips, byte
// insertions and deletions, splices, truncations, length-field edits) for a fixed
// number of iterations or seconds, whichever ends first. Run under the sanitizers,
// any out-of-bounds read, crash or hang of a target fails the test.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
using bytes_t = std::vector<uint8_t>;

bytes_t read_all(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return bytes_t(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void run(const bytes_t& b) { LLVMFuzzerTestOneInput(b.empty() ? nullptr : b.data(), b.size()); }

bytes_t mutate(const bytes_t& seed, const std::vector<bytes_t>& corpus, std::mt19937_64& rng) {
    bytes_t b = seed;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        const size_t pos = b.empty() ? 0 : rng() % (b.size() + 1);
        switch (rng() % 8) {
        case 0:  // flip a bit
            if (!b.empty()) b[pos % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:  // random byte
            if (!b.empty()) b[pos % b.size()] = static_cast<uint8_t>(rng());
            break;
        case 2:  // insert bytes
            b.insert(b.begin() + static_cast<long>(pos), 1 + rng() % 4, static_cast<uint8_t>(rng()));
            break;
        case 3:  // erase a run
            if (!b.empty()) {
                const size_t at = pos % b.size();
                const size_t n = std::min<size_t>(b.size() - at, 1 + rng() % 16);
                b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
            }
            break;
        case 4:  // truncate
            b.resize(pos);
            break;
        case 5: {  // splice with another corpus entry
            if (!corpus.empty()) {
                const bytes_t& o = corpus[rng() % corpus.size()];
                if (!o.empty()) {
                    const size_t from = rng() % o.size();
                    b.insert(b.begin() + static_cast<long>(pos), o.begin() + static_cast<long>(from), o.end());
                }
            }
            break;
        }
        case 6: {  // interesting values: digits, separators, huge lengths
            static const char* tokens[] = {"#9", "#0", "#1", "999999999", "-1", "\n", ",", ";", "9.9E+37",
                                           "nan", "inf", "1e309", "\xff\xff\xff\xff", "\x80\x00\x00\x00",
                                           "99999999999", "\xce\xbc", "OHM", ":"};
            const char* t = tokens[rng() % (sizeof(tokens) / sizeof(tokens[0]))];
            const size_t n = std::strlen(t) ? std::strlen(t) : 1;
            b.insert(b.begin() + static_cast<long>(pos), t, t + n);
            break;
        }
        default:  // duplicate a run
            if (!b.empty()) {
                const size_t at = pos % b.size();
                const size_t n = std::min<size_t>(b.size() - at, 1 + rng() % 32);
                bytes_t run_copy(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
                b.insert(b.begin() + static_cast<long>(at), run_copy.begin(), run_copy.end());
            }
        }
        if (b.size() > (1u << 20)) b.resize(1u << 20);
    }
    return b;
}
}  // namespace

int main(int argc, char** argv) {
    long iterations = 20000;
    double seconds = 20;
    std::string corpus_dir;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--iterations") iterations = std::atol(argv[i + 1]);
        else if (k == "--seconds") seconds = std::atof(argv[i + 1]);
        else if (k == "--corpus") corpus_dir = argv[i + 1];
    }
    std::vector<bytes_t> corpus;
    if (!corpus_dir.empty() && std::filesystem::is_directory(corpus_dir)) {
        for (const auto& e : std::filesystem::directory_iterator(corpus_dir))
            if (e.is_regular_file()) corpus.push_back(read_all(e.path()));
    }
    if (corpus.empty()) corpus.push_back(bytes_t{});
    run(bytes_t{});
    for (const auto& c : corpus) run(c);

    std::mt19937_64 rng(0x5eed1234);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long done = 0;
    for (; done < iterations && std::chrono::steady_clock::now() < deadline; ++done) {
        bytes_t b = mutate(corpus[rng() % corpus.size()], corpus, rng);
        run(b);
        if (rng() % 64 == 0) corpus.push_back(std::move(b));  // keep some mutants as new seeds
        if (corpus.size() > 4096) corpus.resize(2048);
    }
    std::printf("fuzz: %zu seeds, %ld mutated inputs, no fault\n", corpus.size(), done);
    return 0;
}
