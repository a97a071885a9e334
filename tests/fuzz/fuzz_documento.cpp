// The tool's reader of stored transformations on any bytes: the streaming parse that keeps only
// the transform, then the codec and the library's validator. Either a record the validator
// accepts comes back, or one message naming the input; never a crash or another exception. A
// document cut right after its transform still reads, and gives the same record.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "cli.hpp"

using namespace orienta::cli;

namespace {
void exige(bool condicion, const char* que) {
  if (!condicion) {
    std::fprintf(stderr, "broken invariant: %s\n", que);
    std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t largo) {
  const std::string texto(reinterpret_cast<const char*>(datos), largo);
  std::istringstream f(texto);
  try {
    const orienta_transformacion t = lee_registro(f, "in");
    exige(orienta_valida(&t, nullptr) == ORIENTA_OK, "a record the validator refuses");
    // Written back and read again: the same bits.
    std::istringstream otra(escribe_json(Json{{"transform", json_de_registro(t)}}));
    const orienta_transformacion u = lee_registro(otra, "in");
    exige(std::memcmp(&t, &u, sizeof t) == 0 || std::isnan(t.escala), "round trip");
  } catch (const Fallo& e) {
    exige(std::strncmp(e.what(), "in:", 3) == 0, "message names the input");
  }
  return 0;
}
