// `orienta apply`: reads the transformation a fitting command printed with --json and carries
// points through it (or its inverse), streaming: one block of points in memory at a time.
#include <charconv>
#include <cmath>
#include <cstring>

#include "cli.hpp"

namespace orienta::cli {

namespace {

constexpr size_t kBloque = 4096;  // points held at once: memory stays flat whatever the input

// A column as written back: bare, or quoted again when it holds what would split it.
void escribe_columna(std::string& r, std::string_view texto, bool citada) {
  if (!citada) {
    r.append(texto);
    return;
  }
  r += '"';
  for (char c : texto) {
    if (c == '"') r += '"';
    r += c;
  }
  r += '"';
}

// One block of points: coordinates, and the text around them (id, carried columns) end to end.
struct Bloque {
  std::vector<double> puntos, imagen;
  std::vector<uint8_t> fallo;
  std::vector<uint64_t> lineas;
  std::string delante, detras;  // ids, and carried columns, as they will be printed
  std::vector<size_t> fin_delante, fin_detras;
  size_t n = 0;
  explicit Bloque(int d) : puntos(kBloque * size_t(d)), imagen(kBloque * size_t(d)), fallo(kBloque) {}
  void vacia() {
    n = 0;
    lineas.clear();
    delante.clear(), detras.clear();
    fin_delante.clear(), fin_detras.clear();
  }
};

}  // namespace

int orden_aplica(const Opciones& o, const std::string& transformacion, const std::string& fichero) {
  escrituras().entrada(transformacion);
  escrituras().entrada(fichero);
  const orienta_transformacion t = lee_registro(transformacion);
  const bool polinomio = t.modelo == ORIENTA_POLI2D_2 || t.modelo == ORIENTA_POLI2D_3;

  const bool estandar = fichero.empty() || fichero == "-";
  const std::string nombre = estandar ? "<stdin>" : fichero;
  std::FILE* entrada = estandar ? stdin : std::fopen(fichero.c_str(), "rb");
  if (entrada == nullptr) throw Fallo(nombre + ": cannot open: " + std::strerror(errno));
  struct Cierra {
    std::FILE* f;
    bool cerrar;
    ~Cierra() {
      if (cerrar) std::fclose(f);
    }
  } cierra{entrada, !estandar};

  const int d = t.dim;
  Esquema e;
  e.fijos = d;
  e.numeros = d == 3 ? "x y z" : "x y";
  e.ids = o.ids;
  Lector l(entrada, nombre, o.coma_decimal);
  Progreso progreso("apply " + nombre);
  std::vector<Columna> cols;
  Bloque b(d);
  std::string salida;
  salida.reserve(size_t(1) << 20);
  uint64_t sin_inversa = 0, primera_sin_inversa = 0;

  auto vacia = [&] {
    if (b.n == 0) return;
    const int64_t paso = int64_t(sizeof(double)) * d;
    const int64_t malos =
        orienta_aplica(&t, o.inversa ? 1 : 0, b.puntos.data(), paso, b.imagen.data(), paso, b.n, b.fallo.data());
    if (malos < 0) throw Fallo(transformacion + ": transform: " + orienta_estado_texto(int32_t(malos)));
    for (size_t k = 0; malos > 0 && k < b.n; ++k) {
      if (!b.fallo[k]) continue;
      // A polynomial has no inverse past a fold: that is an answer (no preimage), printed as
      // nan and warned about. Anything else that is not finite is a point the map cannot carry.
      if (o.inversa && polinomio) {
        if (sin_inversa++ == 0) primera_sin_inversa = b.lineas[k];
        continue;
      }
      error_en(nombre, b.lineas[k], 1,
               std::string("the ") + (o.inversa ? "inverse " : "") +
                   "image of this point is not a finite number (it lies too far out for this transformation)");
    }
    size_t desde = 0, desde_detras = 0;
    for (size_t k = 0; k < b.n; ++k) {
      if (b.fin_delante[k] > desde) {
        salida.append(b.delante, desde, b.fin_delante[k] - desde);
        salida += ' ';
      }
      desde = b.fin_delante[k];
      for (int i = 0; i < d; ++i) {
        char c[32];
        const auto r = std::to_chars(c, c + sizeof c, b.imagen[size_t(d) * k + size_t(i)]);
        if (i > 0) salida += ' ';
        salida.append(c, r.ptr);
      }
      salida.append(b.detras, desde_detras, b.fin_detras[k] - desde_detras);
      desde_detras = b.fin_detras[k];
      salida += '\n';
    }
    if (std::fwrite(salida.data(), 1, salida.size(), stdout) != salida.size()) throw Fallo("cannot write the output");
    salida.clear();
    b.vacia();
  };

  Disposicion disp;
  bool primera = true;
  while (l.siguiente(cols)) {
    progreso.avanza(l.linea());
    if (primera) {
      disp = decide(e, l, cols);
      primera = false;
    } else {
      comprueba(e, disp, l, cols);
    }
    const size_t p = disp.con_id ? 1 : 0;
    for (int i = 0; i < d; ++i) b.puntos[size_t(d) * b.n + size_t(i)] = numero_en(l, cols[p + size_t(i)]);
    if (disp.con_id) escribe_columna(b.delante, cols[0].texto, cols[0].citada);
    b.fin_delante.push_back(b.delante.size());
    for (size_t k = p + size_t(d); k < cols.size(); ++k) {
      b.detras += ' ';
      escribe_columna(b.detras, cols[k].texto, cols[k].citada);
    }
    b.fin_detras.push_back(b.detras.size());
    b.lineas.push_back(l.linea());
    if (++b.n == kBloque) vacia();
  }
  vacia();
  if (sin_inversa > 0) {
    aviso(nombre + ": the inverse did not converge at " + std::to_string(sin_inversa) + " point" +
          (sin_inversa == 1 ? "" : "s") + ", first at line " + std::to_string(primera_sin_inversa) +
          " (written as nan: no preimage, past a fold of the polynomial or far outside the fitted area)");
    return kAviso;
  }
  return kBien;
}

}  // namespace orienta::cli
