// orienta: command-line host of the library: options, help texts and the demonstration.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli.hpp"

namespace orienta::cli {
namespace {

#define ENTRADA_AYUDA                                                                             \
  "Input: one point pair a line, columns separated by blanks or commas, an optional point id\n"   \
  "first; '#' starts a comment, blank lines are ignored. FILE '-' or no FILE reads standard\n"    \
  "input. Numbers are decimal (hexadecimal is refused). Residuals are v = transformed source -\n" \
  "target. A repeated point id is warned about.\n"

#define AJUSTE_AYUDA                                                                                \
  "By default the rigorous least-squares adjustment: parameters with standard deviations,\n"        \
  "redundancy, sigma0, the correlation matrix, and per pair the residuals v and standardized\n"     \
  "residuals w (Pope's tau; Baarda's with --sigma), flagged with * where |w| exceeds 3.29 or K.\n"  \
  "\n"                                                                                              \
  "  --sigma        each line ends with the pair's a priori sigma in metres (in 3D optionally\n"    \
  "                 two: plan sigma, height sigma; every line the same count; in 3D eight\n"        \
  "                 numbers read as two sigma without an id); prints the global chi2 test\n"        \
  "  --snoop [K]    data snooping: exclude the worst pair while its |w| exceeds K (default\n"       \
  "                 3.29), refit; excluded pairs are listed with residuals against the final fit\n" \
  "  --plot F.svg   draw the points in plan with their exaggerated residual vectors\n"              \
  "  --json         print one JSON document instead of the table; its \"transform\" is what\n"      \
  "                 'orienta apply' reads (numbers shortest round trip)\n"

#define DESCRITA_AYUDA                                                                            \
  "  --described    use the library's own estimator instead (no --sigma, --snoop). It is\n"       \
  "                 checked against the least-squares optimum: exit status 1 with a warning\n"    \
  "                 when its sum of squared residuals exceeds the optimum's by more than\n"       \
  "                 rounding explains: 1e-6 of the optimum plus, over the pairs, the sum of\n"    \
  "                 (4*u*rho)^2, u the unit roundoff (2^-53; 2^-24 with --float) and rho =\n"     \
  "                 scale*|source| + |target| in the coordinates the estimator saw\n"             \
  "  --float        with --described: single precision. Coordinates are first reduced by\n"       \
  "                 their double-precision centroids, then rounded to float (so rho above uses\n" \
  "                 the reduced coordinates); residuals are computed in double\n"

const char kAyudaGeneral[] =
    "usage: orienta COMMAND [OPTIONS] [FILE]\n"
    "\n"
    "Commands:\n"
    "  demo        the 3D and 2D adjustments of the bundled control points\n"
    "  helmert3d   3D similarity (seven parameters) from pairs of 3D points\n"
    "  helmert2d   2D similarity from pairs of 2D points\n"
    "  poly2d      2D affine or polynomial transformation (and the described kinds)\n"
    "  apply       carry points through a fitted transformation, or its inverse\n"
    "\n"
    "'orienta COMMAND --help' describes each command; 'orienta --version' prints the version.\n"
    "Exit status: 0 done; 1 printed, but not trustworthy (a warning on standard error says why);\n"
    "2 error (bad options or input, degenerate points), nothing printed on standard output.\n";

const char kAyudaDemo[] =
    "usage: orienta demo [--described] [--units rad|deg|gon] [--json]\n"
    "\n"
    "Runs helmert3d on the bundled examples/data/control3d.txt (ten control points of a site,\n"
    "local frame to UTM grid with heights) and helmert2d on examples/data/control2d.txt (twelve\n"
    "cadastral points, old plane grid to UTM). The data are compiled into the program.\n"
    "With --json, one document {\"helmert3d\": ..., \"helmert2d\": ...}.\n";

const char kAyuda3d[] =
    "usage: orienta helmert3d [--sigma] [--snoop [K]] [--plot F.svg] [--described [--general]\n"
    "                         [--float]] [--units rad|deg|gon] [--json] [FILE]\n"
    "\n"
    "Estimates the 3D similarity target = T + scale*R*source, R = Rz(kappa)*Ry(phi)*Rx(omega):\n"
    "the translation T, the angles, the scale and its deviation from 1 in ppm, the centred form,\n"
    "each pair's residual, and the RMS in plan and height.\n"
    "Columns: [id] source x y z target x y z [sigma [sigma]]. At least 3 pairs, not on one line.\n"
    "\n" ENTRADA_AYUDA "\n" AJUSTE_AYUDA DESCRITA_AYUDA
    "  --general      with --described: start from the linear least-squares map (from 9 pairs)\n"
    "                 instead of the best rotation about z\n"
    "  --units U      angles in rad, deg (default) or gon\n";

const char kAyuda2d[] =
    "usage: orienta helmert2d [--sigma] [--snoop [K]] [--plot F.svg] [--described [--float]]\n"
    "                         [--units rad|deg|gon] [--json] [FILE]\n"
    "\n"
    "Estimates the 2D similarity target = T + scale*R*source and prints T, the rotation angle\n"
    "(positive turns +x towards +y), the scale and its deviation from 1 in ppm, the plain form\n"
    "target = scale*R*(source - t), the centred form, and each pair's residual.\n"
    "Columns: [id] source x y target x y [sigma]. At least 2 pairs with distinct source points.\n"
    "\n" ENTRADA_AYUDA "\n" AJUSTE_AYUDA DESCRITA_AYUDA "  --units U      angles in rad, deg (default) or gon\n";

const char kAyudaPoly[] =
    "usage: orienta poly2d --kind KIND [--sigma] [--snoop [K]] [--plot F.svg]\n"
    "                      [--described [--float]] [--json] [FILE]\n"
    "\n"
    "Fits x' = x0 + sum cx[k]*term k, y' = y0 + sum cy[k]*term k in dx = x - xc, dy = y - yc\n"
    "(terms dx, dy; dx^2, dx*dy, dy^2; dx^3, dx^2*dy, dx*dy^2, dy^3) and prints the record, each\n"
    "pair's residual and the RMS. Columns: [id] source x y target x y [sigma].\n"
    "\n"
    "  --kind KIND    similarity (2 pairs), affine or 1 (3), 2 for second order (6), 3 for third\n"
    "                 order (10); constant (1) and rigid (2) have no adjustment and always run\n"
    "                 the described estimator\n"
    "\n" ENTRADA_AYUDA "\n" AJUSTE_AYUDA DESCRITA_AYUDA;

const char kAyudaAplica[] =
    "usage: orienta apply [--inverse] TRANSFORM [FILE]\n"
    "\n"
    "Reads TRANSFORM, the JSON document a fitting command printed with --json (or its bare\n"
    "\"transform\" object), and carries the points of FILE through it: one point a line,\n"
    "[id] x y or [id] x y z as the transformation's dimension, same rules as the pairs. Prints\n"
    "'id x' y' (z')' a line in input order (the id only where one was given), numbers in the\n"
    "shortest form that reads back exactly. Streams: memory stays flat for any input size, and a\n"
    "bad line stops the run (exit status 2) after the points before it were printed.\n"
    "\n"
    "  --inverse      the inverse transformation (polynomials: Newton iteration per point; a\n"
    "                 point where it does not converge prints as nan, with exit status 1)\n";

int uso_mal(const std::string& orden, const std::string& que) {
  std::fprintf(stderr, "orienta: %s%s%s (see 'orienta %s%s--help')\n", orden.c_str(), orden.empty() ? "" : ": ",
               que.c_str(), orden.c_str(), orden.empty() ? "" : " ");
  return kError;
}

// Flushes standard output and reports a failed write (a full disk, a closed pipe).
int termina(int estado) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("orienta: cannot write the output\n", stderr);
    return kError;
  }
  return estado;
}

bool lee_unidad(const std::string& s, Unidad& u) {
  if (s == "rad")
    u = Unidad::rad;
  else if (s == "deg")
    u = Unidad::deg;
  else if (s == "gon")
    u = Unidad::gon;
  else
    return false;
  return true;
}

bool lee_tipo(const std::string& s, uint32_t& tipo) {
  static const struct {
    const char* nombre;
    uint32_t tipo;
  } kTipos[] = {{"constant", 0}, {"rigid", 1}, {"similarity", 2}, {"affine", 3}, {"1", 3}, {"2", 6}, {"3", 7}};
  for (const auto& k : kTipos)
    if (s == k.nombre) {
      tipo = k.tipo;
      return true;
    }
  return false;
}

// Pairs from a file, standard input, or the demo bytes.
Conjunto lee(const std::string& fichero, int dim, bool con_sigma) {
  const bool estandar = fichero.empty() || fichero == "-";
  const std::string nombre = estandar ? "<stdin>" : fichero;
  std::FILE* f = estandar ? stdin : std::fopen(fichero.c_str(), "rb");
  if (f == nullptr) throw Fallo(nombre + ": cannot open: " + std::strerror(errno));
  try {
    Conjunto c = lee_pares(f, nombre, dim, con_sigma);
    if (!estandar) std::fclose(f);
    return c;
  } catch (...) {
    if (!estandar) std::fclose(f);
    throw;
  }
}

Conjunto lee_memoria(const unsigned char* datos, size_t largo, const std::string& nombre, int dim) {
  std::FILE* f = fmemopen(const_cast<unsigned char*>(datos), largo, "rb");
  if (f == nullptr) throw Fallo(nombre + ": cannot open: " + std::strerror(errno));
  try {
    Conjunto c = lee_pares(f, nombre, dim, false);
    std::fclose(f);
    return c;
  } catch (...) {
    std::fclose(f);
    throw;
  }
}

int demo(const Opciones& o) {
  const Conjunto c3 = lee_memoria(orienta_demo_3d, orienta_demo_3d_largo, "examples/data/control3d.txt", 3);
  const Conjunto c2 = lee_memoria(orienta_demo_2d, orienta_demo_2d_largo, "examples/data/control2d.txt", 2);
  if (o.json) {
    Json j3, j2;
    const int e3 = orden_ajuste(Modelo::helmert3d, o, c3, &j3);
    const int e2 = orden_ajuste(Modelo::helmert2d, o, c2, &j2);
    const Json d = {{"helmert3d", j3}, {"helmert2d", j2}};
    std::fputs(escribe_json(d).c_str(), stdout);
    return std::max(e3, e2);
  }
  const int e3 = orden_ajuste(Modelo::helmert3d, o, c3, nullptr);
  std::printf("\n");
  const int e2 = orden_ajuste(Modelo::helmert2d, o, c2, nullptr);
  return std::max(e3, e2);
}

// "--snoop" takes its value only when the next word is a number, so "--snoop FILE" reads FILE.
std::vector<std::string> con_umbral_explicito(int argc, char** argv) {
  std::vector<std::string> r;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      for (; i < argc; ++i) r.push_back(argv[i]);
      break;
    }
    if (a == "--snoop") {
      if (i + 1 < argc && es_numero(argv[i + 1]))
        r.push_back(a + "=" + argv[++i]);
      else
        r.push_back("--snoop=3.29");
      continue;
    }
    r.push_back(a);
  }
  return r;
}

int ejecuta(int argc, char** argv) {
  if (argc < 2) return uso_mal("", "missing command");
  const std::string orden = argv[1];
  if (orden == "--help" || orden == "-h" || orden == "help") {
    std::fputs(kAyudaGeneral, stdout);
    return termina(kBien);
  }
  if (orden == "--version") {
    std::printf("orienta %s\n", ORIENTA_VERSION);
    return termina(kBien);
  }
  const char* ayuda = orden == "demo"        ? kAyudaDemo
                      : orden == "helmert3d" ? kAyuda3d
                      : orden == "helmert2d" ? kAyuda2d
                      : orden == "poly2d"    ? kAyudaPoly
                      : orden == "apply"     ? kAyudaAplica
                                             : nullptr;
  if (ayuda == nullptr) return uso_mal("", "unknown command '" + orden + "'");
  const bool es_ajuste = orden == "helmert3d" || orden == "helmert2d" || orden == "poly2d";

  Opciones o;
  std::string unidad = "deg", tipo, umbral, fichero, transformacion;
  CLI::App app{"orienta " + orden, "orienta " + orden};
  app.set_help_flag("-h,--help");
  app.allow_extras();
  if (orden != "apply") app.add_flag("--json", o.json);
  if (orden != "apply" && orden != "poly2d") app.add_option("--units", unidad);
  if (orden != "apply") app.add_flag("--described", o.descrita);
  if (es_ajuste) {
    app.add_flag("--float", o.flotante);
    app.add_flag("--sigma", o.con_sigma);
    app.add_option("--snoop", umbral);
    app.add_option("--plot", o.dibujo);
  }
  if (orden == "helmert3d") app.add_flag("--general", o.general);
  if (orden == "poly2d") app.add_option("--kind", tipo);
  if (orden == "apply") {
    app.add_flag("--inverse", o.inversa);
    app.add_option("transform", transformacion);
  }
  if (orden != "demo") app.add_option("file", fichero);

  std::vector<std::string> argumentos = con_umbral_explicito(argc, argv);
  std::reverse(argumentos.begin(), argumentos.end());  // CLI11 takes a vector back to front
  try {
    app.parse(argumentos);
  } catch (const CLI::CallForHelp&) {
    std::fputs(ayuda, stdout);
    return termina(kBien);
  } catch (const CLI::ParseError& e) {
    return uso_mal(orden, e.what());
  }
  for (const std::string& resto : app.remaining()) {
    if (resto.size() > 1 && resto[0] == '-') return uso_mal(orden, "unknown option '" + resto + "'");
    return uso_mal(orden, orden == "demo" ? "takes no input file" : "more than one input file");
  }
  if (!lee_unidad(unidad, o.unidad)) return uso_mal(orden, "unknown unit '" + unidad + "': use rad, deg or gon");
  if (!umbral.empty()) {
    double k = 0;
    const auto r = std::from_chars(umbral.data(), umbral.data() + umbral.size(), k);
    if (r.ec != std::errc() || r.ptr != umbral.data() + umbral.size() || !(k > 0) || !std::isfinite(k))
      return uso_mal(orden, "--snoop needs a positive threshold, not '" + umbral + "'");
    o.umbral = k;
  }
  if (orden == "poly2d") {
    if (tipo.empty()) return uso_mal(orden, "--kind is required");
    if (!lee_tipo(tipo, o.tipo))
      return uso_mal(orden, "unknown kind '" + tipo + "': use constant, rigid, similarity, affine, 2 or 3");
  }
  if (!o.descrita && o.flotante) return uso_mal(orden, "--float applies only with --described");
  if (!o.descrita && o.general) return uso_mal(orden, "--general applies only with --described");
  if (o.descrita && (o.con_sigma || o.umbral))
    return uso_mal(orden, "--sigma and --snoop need the adjustment: drop --described");
  if (orden == "poly2d" && o.tipo <= 1 && (o.con_sigma || o.umbral))
    return uso_mal(orden, "--sigma and --snoop need a kind the adjustment fits (similarity, affine, 2 or 3)");

  if (orden == "demo") return termina(demo(o));
  if (orden == "apply") {
    if (transformacion.empty()) return uso_mal(orden, "missing TRANSFORM (a fitting command's --json output)");
    return termina(orden_aplica(o, transformacion, fichero));
  }
  const Modelo m = orden == "helmert3d" ? Modelo::helmert3d : orden == "helmert2d" ? Modelo::helmert2d : Modelo::poly2d;
  const Conjunto c = lee(fichero, m == Modelo::helmert3d ? 3 : 2, o.con_sigma);
  if (o.json) {
    Json j;
    const int estado = orden_ajuste(m, o, c, &j);
    std::fputs(escribe_json(j).c_str(), stdout);
    return termina(estado);
  }
  return termina(orden_ajuste(m, o, c, nullptr));
}

}  // namespace
}  // namespace orienta::cli

int main(int argc, char** argv) {
  try {
    return orienta::cli::ejecuta(argc, argv);
  } catch (const orienta::cli::Fallo& e) {
    std::fprintf(stderr, "orienta: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fputs("orienta: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orienta: %s\n", e.what());
  }
  return orienta::cli::kError;
}
