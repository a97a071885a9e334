// Replays fuzz inputs through one target without libFuzzer, linked to the library as shipped:
// every file named on the command line (a folder stands for the files in it), on --hilos=N
// threads at once, each thread starting at a different input, so that the same functions run on
// different data at the same moment (ThreadSanitizer watches that in the tsan preset).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "comun.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  unsigned hilos = 1;
  std::vector<std::string> rutas;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--hilos=", 0) == 0)
      hilos = unsigned(std::max(1, std::stoi(a.substr(8))));
    else if (fs::is_directory(a))
      for (const auto& e : fs::directory_iterator(a)) rutas.push_back(e.path().string());
    else
      rutas.push_back(a);
  }
  if (rutas.empty()) {
    std::fprintf(stderr, "usage: %s [--hilos=N] file-or-folder...\n", argv[0]);
    return 2;
  }
  std::sort(rutas.begin(), rutas.end());
  std::vector<std::vector<uint8_t>> entradas;
  for (const std::string& r : rutas) {
    std::ifstream f(r, std::ios::binary);
    if (!f) {
      std::fprintf(stderr, "cannot read %s\n", r.c_str());
      return 2;
    }
    entradas.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  std::vector<std::thread> trabajadores;
  for (unsigned h = 0; h < hilos; ++h)
    trabajadores.emplace_back([&, h] {
      for (size_t k = 0; k < entradas.size(); ++k) {
        const size_t i = (k + h * entradas.size() / hilos) % entradas.size();
        orienta::fuzz::entrada_actual = rutas[i].c_str();
        // A block of exactly the input's size, as libFuzzer hands it over.
        const std::unique_ptr<uint8_t[]> copia(new uint8_t[entradas[i].size()]);
        std::copy(entradas[i].begin(), entradas[i].end(), copia.get());
        LLVMFuzzerTestOneInput(copia.get(), entradas[i].size());
      }
    });
  for (std::thread& t : trabajadores) t.join();
  std::printf("%zu inputs replayed on %u threads, no invariant broken\n", entradas.size(), hilos);
  return 0;
}
