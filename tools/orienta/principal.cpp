// orienta: command-line host of the library: options, the run of a command, the demonstration.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.hpp"

namespace orienta::cli {

std::string ayuda(const std::string& orden);

namespace {

int uso_mal(const std::string& orden, const std::string& que) {
  std::fprintf(stderr, "orienta: %s%s%s (see 'orienta %s%s--help')\n", orden.c_str(), orden.empty() ? "" : ": ",
               que.c_str(), orden.c_str(), orden.empty() ? "" : " ");
  return kError;
}

// Flushes standard output and reports a failed write (a full disk, a closed pipe); only then do
// the run's output files take their names.
int termina(int estado) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("orienta: cannot write the output\n", stderr);
    return kError;
  }
  escrituras().confirma();
  return estado;
}

bool lee_unidad(const std::string& s, Unidad& u) {
  if (s == "rad")
    u = Unidad::rad;
  else if (s == "deg")
    u = Unidad::deg;
  else if (s == "gon")
    u = Unidad::gon;
  else if (s == "arcsec")
    u = Unidad::arcsec;
  else if (s == "dms")
    u = Unidad::dms;
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
Conjunto lee(const std::string& fichero, int dim, const Opciones& o) {
  const bool estandar = fichero.empty() || fichero == "-";
  const std::string nombre = estandar ? "<stdin>" : fichero;
  std::FILE* f = estandar ? stdin : std::fopen(fichero.c_str(), "rb");
  if (f == nullptr) throw Fallo(nombre + ": cannot open: " + std::strerror(errno));
  try {
    Conjunto c = lee_pares(f, nombre, dim, o);
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
    Conjunto c = lee_pares(f, nombre, dim, Opciones{});
    std::fclose(f);
    return c;
  } catch (...) {
    std::fclose(f);
    throw;
  }
}

// A fitting command: a regular file is read again instead of held where the fit allows it.
int orden_ajuste(Orden m, const Opciones& o, const std::string& fichero, const std::string& destino) {
  escrituras().entrada(fichero);
  if (!destino.empty()) escrituras().entrada(destino);
  std::FILE* dibujo = o.dibujo.empty() ? nullptr : escrituras().abre(o.dibujo, "plot");
  if (dibujo == nullptr && destino.empty() && !fichero.empty() && fichero != "-") {
    std::FILE* f = std::fopen(fichero.c_str(), "rb");
    if (f == nullptr) throw Fallo(fichero + ": cannot open: " + std::strerror(errno));
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> cierra(f, std::fclose);
    if (puede_fluir(m, o, f))
      if (const std::optional<int> estado = ajusta_fichero(m, o, f, fichero)) return *estado;
  }
  const int dim = m == Orden::helmert3d ? 3 : 2;
  const Conjunto c = destino.empty() ? lee(fichero, dim, o) : une_listas(fichero, destino, dim, o);
  const Ajuste a = ajusta(m, o, c);
  presenta(m, o, a, en_memoria(c, a));
  if (dibujo) dibuja(dibujo, Dibujo{&c, &a.v, &a.w, &a.excluido, a.umbral, &a});
  return avisa(a);
}

int demo(const Opciones& o) {
  const Conjunto c3 = lee_memoria(orienta_demo_3d, orienta_demo_3d_largo, "examples/data/control3d.txt", 3);
  const Conjunto c2 = lee_memoria(orienta_demo_2d, orienta_demo_2d_largo, "examples/data/control2d.txt", 2);
  const Ajuste a3 = ajusta(Orden::helmert3d, o, c3), a2 = ajusta(Orden::helmert2d, o, c2);
  if (o.json) {
    std::fputs("{\"helmert3d\":", stdout);
    escribe_documento(Orden::helmert3d, o, a3, en_memoria(c3, a3));
    std::fputs(",\"helmert2d\":", stdout);
    escribe_documento(Orden::helmert2d, o, a2, en_memoria(c2, a2));
    std::fputs("}\n", stdout);
  } else {
    presenta(Orden::helmert3d, o, a3, en_memoria(c3, a3));
    std::printf("\n");
    presenta(Orden::helmert2d, o, a2, en_memoria(c2, a2));
  }
  return std::max(avisa(a3), avisa(a2));
}

// A value option takes the next word only when it looks like one, so "--snoop FILE" reads FILE;
// what looks like a number (nan and inf included) is the value, and is then checked as such.
std::vector<std::string> con_umbral_explicito(int argc, char** argv) {
  std::vector<std::string> r;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      for (; i < argc; ++i) r.emplace_back(argv[i]);
      break;
    }
    if (a == "--snoop") {
      if (i + 1 < argc && parece_numero(argv[i + 1]))
        r.push_back(a + "=" + argv[++i]);
      else
        r.emplace_back("--snoop=3.29");
      continue;
    }
    r.push_back(a);
  }
  return r;
}

// --columns names each column of the file by what it holds, in the file's order: id, the source
// x y z, the target X Y Z, sigma (in 3D sigma, or sigma_plan and sigma_height), '-' for a column
// to ignore (apply carries it through). The readers then take the fields in their own order.
std::string lee_columnas(const std::string& orden, const std::string& lista, Opciones& o) {
  const bool aplica = orden == "apply", tres = orden == "helmert3d";
  std::vector<std::string> roles = {"id", "x", "y"};
  if (tres || aplica) roles.emplace_back("z");
  if (!aplica) {
    roles.insert(roles.end(), {"X", "Y"});
    if (tres) roles.emplace_back("Z");
    roles.emplace_back("sigma");
    if (tres) roles.insert(roles.end(), {"sigma_plan", "sigma_height"});
  }
  std::vector<size_t> donde(roles.size(), SIZE_MAX), ignoradas;
  size_t total = 0;
  for (size_t a = 0;; ++total) {
    const size_t b = std::min(lista.find(',', a), lista.size());
    const std::string nombre = lista.substr(a, b - a);
    if (nombre == "-") {
      ignoradas.push_back(total);
    } else {
      const auto it = std::find(roles.begin(), roles.end(), nombre);
      if (it == roles.end()) {
        std::string validos;
        for (const std::string& r : roles) validos += r + ", ";
        return "--columns: unknown column '" + cita(nombre) + "' (" + validos + "or - to ignore one)";
      }
      size_t& k = donde[size_t(it - roles.begin())];
      if (k != SIZE_MAX) return "--columns names '" + nombre + "' twice";
      k = total;
    }
    if (b == lista.size()) break;
    a = b + 1;
  }
  ++total;
  const auto tiene = [&](const char* r) { return donde[size_t(std::find(roles.begin(), roles.end(), r) - roles.begin())] != SIZE_MAX; };
  for (const char* r : {"x", "y", "X", "Y", "Z"})
    if (std::find(roles.begin(), roles.end(), r) != roles.end() && !tiene(r))
      return std::string("--columns names no '") + r + "' column";
  if (tres && !tiene("z")) return "--columns names no 'z' column";
  if (tres && tiene("sigma") && (tiene("sigma_plan") || tiene("sigma_height")))
    return "--columns: give sigma, or sigma_plan and sigma_height, not both";
  if (tres && tiene("sigma_plan") != tiene("sigma_height"))
    return "--columns: sigma_plan and sigma_height go together";
  const bool con_id = tiene("id");
  if (o.ids != Ids::automatico && (o.ids == Ids::si) != con_id)
    return std::string("--ids ") + (o.ids == Ids::si ? "yes" : "no") + " but --columns names " +
           (con_id ? "an id column" : "no id column");
  o.ids = con_id ? Ids::si : Ids::no;
  int sigmas = 0;
  for (size_t k = 0; k < roles.size(); ++k) {
    if (donde[k] == SIZE_MAX) continue;
    o.columnas.orden.push_back(donde[k]);
    sigmas += roles[k].rfind("sigma", 0) == 0;
  }
  if (o.con_sigma && sigmas == 0) return "--sigma, but --columns names no sigma column";
  if (sigmas > 0) o.con_sigma = true, o.sigmas = sigmas;
  if (aplica) o.columnas.orden.insert(o.columnas.orden.end(), ignoradas.begin(), ignoradas.end());
  o.columnas.total = total;
  o.columnas.con_z = tiene("z");
  return "";
}

// The options as given, checked against each other. Returns an exit status when the run ends
// here (help, a bad option), or -1 to go on.
struct Textos {
  std::string unidad = "deg", tipo, umbral, alfa, fichero, fichero2, transformacion, ids, sigmas, formato, decimales,
      columnas, robusto, umbral_robusto, semilla;
};

int comprueba_opciones(const std::string& orden, Opciones& o, const Textos& x) {
  if (!lee_unidad(x.unidad, o.unidad)) return uso_mal(orden, "unknown unit '" + x.unidad + "': use rad, deg, gon, arcsec or dms");
  if (!x.ids.empty()) {
    if (x.ids != "yes" && x.ids != "no") return uso_mal(orden, "--ids takes yes or no, not '" + x.ids + "'");
    o.ids = x.ids == "yes" ? Ids::si : Ids::no;
  }
  if (!x.decimales.empty()) {
    int d = -1;
    const auto r = std::from_chars(x.decimales.data(), x.decimales.data() + x.decimales.size(), d);
    if (r.ec != std::errc() || r.ptr != x.decimales.data() + x.decimales.size() || d < 0 || d > 17)
      return uso_mal(orden, "--decimals takes a whole number from 0 to 17, not '" + x.decimales + "'");
    o.decimales = d;
  }
  if (!x.columnas.empty()) {
    if (!x.fichero2.empty())
      return uso_mal(orden, "--columns describes one file; two lists joined by id are read as id x y [z] [sigma]");
    if (!x.sigmas.empty()) return uso_mal(orden, "--columns says how many sigma a line holds: drop --sigmas");
    if (const std::string mal = lee_columnas(orden, x.columnas, o); !mal.empty()) return uso_mal(orden, mal);
  }
  if (!x.sigmas.empty()) {
    if (x.sigmas != "1" && x.sigmas != "2") return uso_mal(orden, "--sigmas takes 1 or 2, not '" + x.sigmas + "'");
    if (!o.con_sigma) return uso_mal(orden, "--sigmas applies only with --sigma");
    o.sigmas = x.sigmas[0] - '0';
  }
  if (!x.umbral.empty()) {
    double k = 0;
    const auto r = std::from_chars(x.umbral.data(), x.umbral.data() + x.umbral.size(), k);
    if (r.ec != std::errc() || r.ptr != x.umbral.data() + x.umbral.size() || !(k > 0) || !std::isfinite(k))
      return uso_mal(orden, "--snoop needs a positive threshold, a finite number, not '" + x.umbral + "'");
    o.umbral = k;
  }
  if (!x.alfa.empty()) {
    double a = 0;
    const auto r = std::from_chars(x.alfa.data(), x.alfa.data() + x.alfa.size(), a);
    if (r.ec != std::errc() || r.ptr != x.alfa.data() + x.alfa.size() || !(a > 0 && a < 1))
      return uso_mal(orden, "--snoop-alpha needs a probability between 0 and 1, such as 0.05, not '" + x.alfa + "'");
    if (o.umbral) return uso_mal(orden, "--snoop and --snoop-alpha both set the threshold: give one");
    o.alfa = a;
  }
  if (!x.robusto.empty()) {
    const struct {
      const char* nombre;
      int32_t metodo;
    } kMetodos[] = {{"msac", ORIENTA_ROBUSTO_MSAC}, {"ransac", ORIENTA_ROBUSTO_MSAC}, {"huber", ORIENTA_ROBUSTO_HUBER},
                    {"danish", ORIENTA_ROBUSTO_DANES}};
    for (const auto& k : kMetodos)
      if (x.robusto == k.nombre) o.robusto = k.metodo;
    if (!o.robusto) return uso_mal(orden, "unknown --robust method '" + x.robusto + "': msac (or ransac), huber or danish");
    if (o.umbral || o.alfa) return uso_mal(orden, "--robust replaces --snoop: give one");
  }
  if (!x.umbral_robusto.empty()) {
    double t = 0;
    const auto r = std::from_chars(x.umbral_robusto.data(), x.umbral_robusto.data() + x.umbral_robusto.size(), t);
    if (r.ec != std::errc() || r.ptr != x.umbral_robusto.data() + x.umbral_robusto.size() || !(t > 0) || !std::isfinite(t))
      return uso_mal(orden, "--threshold needs a positive distance in the target's units, not '" + x.umbral_robusto + "'");
    if (!o.robusto) return uso_mal(orden, "--threshold applies only with --robust");
    o.umbral_robusto = t;
  }
  if (!x.semilla.empty()) {
    const auto r = std::from_chars(x.semilla.data(), x.semilla.data() + x.semilla.size(), o.semilla);
    if (r.ec != std::errc() || r.ptr != x.semilla.data() + x.semilla.size())
      return uso_mal(orden, "--seed takes a whole number from 0 to 2^64-1, not '" + x.semilla + "'");
    if (!o.robusto) return uso_mal(orden, "--seed applies only with --robust");
  }
  if (o.robusto && o.umbral_robusto == 0 && !o.con_sigma && o.robusto == ORIENTA_ROBUSTO_MSAC)
    return uso_mal(orden, "--robust msac needs --threshold M (metres, the target's units) or --sigma");
  if (orden == "poly2d") {
    if (x.tipo.empty()) return uso_mal(orden, "--kind is required");
    if (!lee_tipo(x.tipo, o.tipo))
      return uso_mal(orden, "unknown kind '" + x.tipo + "': use constant, rigid, similarity, affine, 1, 2 or 3");
  }
  if (!o.descrita && o.flotante) return uso_mal(orden, "--float applies only with --described");
  if (!o.descrita && o.general) return uso_mal(orden, "--general applies only with --described");
  if (o.descrita && o.rigido) return uso_mal(orden, "--rigid is an adjustment: it does not combine with --described");
  if (o.descrita && o.robusto) return uso_mal(orden, "--robust is an adjustment: it does not combine with --described");
  if (o.descrita && (o.con_sigma || o.umbral || o.alfa))
    return uso_mal(orden, "--sigma and --snoop need the adjustment: drop --described");
  if (orden == "poly2d" && o.tipo <= 1 && (o.con_sigma || o.umbral || o.alfa || o.robusto))
    return uso_mal(orden, "--sigma and --snoop need a kind the adjustment fits (similarity, affine, 1, 2 or 3)");
  return -1;
}

int ejecuta(int argc, char** argv) {
  if (argc < 2) return uso_mal("", "missing command");
  const std::string orden = argv[1];
  if (orden == "--help" || orden == "-h" || orden == "help") {
    std::fputs(ayuda("").c_str(), stdout);
    return termina(kBien);
  }
  if (orden == "--version") {
    std::printf("orienta %s\n", ORIENTA_VERSION);
    return termina(kBien);
  }
  const std::string texto_ayuda = ayuda(orden);
  if (texto_ayuda.empty()) return uso_mal("", "unknown command '" + orden + "'");
  const bool es_ajuste = orden == "helmert3d" || orden == "helmert2d" || orden == "poly2d";

  Opciones o;
  Textos x;
  CLI::App app{"orienta " + orden, "orienta " + orden};
  app.set_help_flag("-h,--help");
  app.allow_extras();
  const bool lee_registro = orden == "apply" || orden == "export";
  if (!lee_registro) {
    app.add_flag("--json", o.json);
    app.add_flag("--described", o.descrita);
  }
  if (!lee_registro && orden != "poly2d") app.add_option("--units", x.unidad);
  if (es_ajuste) {
    app.add_flag("--float", o.flotante);
    app.add_flag("--sigma", o.con_sigma);
    app.add_option("--snoop", x.umbral);
    app.add_option("--snoop-alpha", x.alfa);
    app.add_option("--plot", o.dibujo);
    app.add_flag("--mirrored-ok", o.reflejo_ok);
    app.add_option("--robust", x.robusto);
    app.add_option("--threshold", x.umbral_robusto);
    app.add_option("--seed", x.semilla);
    app.add_flag("--strict", o.estricto);
  }
  if (orden == "helmert3d") {
    app.add_flag("--general", o.general);
    app.add_flag("--rigid", o.rigido);
    app.add_option("--sigmas", x.sigmas);
  }
  if (orden == "poly2d") app.add_option("--kind", x.tipo);
  if (orden == "helmert2d" || orden == "poly2d") app.add_flag("--image-rows-down", o.filas_abajo);
  if (orden == "apply") {
    app.add_flag("--inverse", o.inversa);
    app.add_flag("--precision", o.precision);
    app.add_option("--units", x.unidad);
    app.add_option("--decimals", x.decimales);
    app.add_option("transform", x.transformacion);
  }
  if (orden == "export") {
    app.add_option("format", x.formato);
    app.add_option("transform", x.transformacion);
    app.add_option("pairs", x.fichero);
    app.add_option("--area", o.zona);
    app.add_option("--inverse-tolerance", o.tolerancia);
  } else if (orden != "demo") {
    app.add_option("file", x.fichero);
    if (es_ajuste) app.add_option("target_file", x.fichero2);
  }
  if (orden != "demo") {  // every command that reads a file of points or pairs
    app.add_option("--ids", x.ids);
    app.add_option("--columns", x.columnas);
    app.add_flag("--decimal-comma", o.coma_decimal);
  }

  std::vector<std::string> argumentos = con_umbral_explicito(argc, argv);
  std::reverse(argumentos.begin(), argumentos.end());  // CLI11 takes a vector back to front
  try {
    app.parse(argumentos);
  } catch (const CLI::CallForHelp&) {
    std::fputs(texto_ayuda.c_str(), stdout);
    return termina(kBien);
  } catch (const CLI::ParseError& e) {
    return uso_mal(orden, e.what());
  }
  for (const std::string& resto : app.remaining()) {
    if (resto.size() > 1 && resto[0] == '-') return uso_mal(orden, "unknown option '" + resto + "'");
    return uso_mal(orden, orden == "demo" ? "takes no input file"
                          : es_ajuste     ? "more than two input files (one of pairs, or two lists joined by id)"
                                          : "more than one input file");
  }
  if (const int estado = comprueba_opciones(orden, o, x); estado >= 0) return estado;
  if (o.precision && o.inversa)
    return uso_mal(orden, "--precision is of the forward transformation only: drop --inverse");
  if (o.estricto && x.fichero2.empty()) return uso_mal(orden, "--strict applies to two lists joined by id");
  if (!x.fichero2.empty() && o.ids == Ids::no)
    return uso_mal(orden, "two lists are joined by their ids: drop --ids no");

  if (orden == "demo") return termina(demo(o));
  if (orden == "export") {
    if (x.transformacion.empty())
      return uso_mal(orden, "missing FORMAT or TRANSFORM (orienta export proj|world T.json, gcp|points FIT.json PAIRS)");
    return termina(orden_exporta(o, x.formato, x.transformacion, x.fichero));
  }
  if (orden == "apply") {
    if (x.transformacion.empty()) return uso_mal(orden, "missing TRANSFORM (a fitting command's --json output)");
    return termina(orden_aplica(o, x.transformacion, x.fichero));
  }
  const Orden m = orden == "helmert3d" ? Orden::helmert3d : orden == "helmert2d" ? Orden::helmert2d : Orden::poly2d;
  return termina(orden_ajuste(m, o, x.fichero, x.fichero2));
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
