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
  std::vector<double> puntos, imagen, covarianza;
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

// The run of apply: lines into the block, the block through the library and out.
class Aplicacion {
 public:
  Aplicacion(const Opciones& o, std::string transformacion, std::string nombre)
      : o_(o),
        transformacion_(std::move(transformacion)),
        nombre_(std::move(nombre)),
        t_(lee_registro(transformacion_, &precision_)),
        d_(t_.dim),
        b_(d_) {
    polinomio_ = t_.modelo == ORIENTA_POLI2D_2 || t_.modelo == ORIENTA_POLI2D_3;
    if (o_.precision && precision_.covarianza.empty())
      throw Fallo(transformacion_ +
                  ": the record carries no parameter_covariance (written by hand or by an earlier orienta): "
                  "fit again for --precision; without it the record still applies");
    if (o_.precision) b_.covarianza.resize(kBloque * size_t(d_ * d_));
    salida_.reserve(size_t(1) << 20);
  }
  int dim() const { return d_; }

  // One line of the file, laid out as the first one settled.
  void anade(const Lector& l, const std::vector<Columna>& cols, bool con_id) {
    const size_t p = con_id ? 1 : 0;
    for (int i = 0; i < d_; ++i) b_.puntos[size_t(d_) * b_.n + size_t(i)] = numero_en(l, cols[p + size_t(i)]);
    if (con_id) escribe_columna(b_.delante, cols[0].texto, cols[0].citada);
    b_.fin_delante.push_back(b_.delante.size());
    for (size_t k = p + size_t(d_); k < cols.size(); ++k) {
      b_.detras += ' ';
      escribe_columna(b_.detras, cols[k].texto, cols[k].citada);
    }
    b_.fin_detras.push_back(b_.detras.size());
    b_.lineas.push_back(l.linea());
    if (++b_.n == kBloque) vacia();
  }

  void vacia() {
    if (b_.n == 0) return;
    const int64_t paso = int64_t(sizeof(double)) * d_;
    const int64_t malos =
        o_.precision ? orienta_aplica_precision(&t_, precision_.covarianza.data(), b_.puntos.data(), paso, nullptr, 0,
                                                b_.imagen.data(), paso, b_.covarianza.data(), paso * d_, b_.n,
                                                b_.fallo.data())
                     : orienta_aplica(&t_, o_.inversa ? 1 : 0, b_.puntos.data(), paso, b_.imagen.data(), paso, b_.n,
                                      b_.fallo.data());
    if (malos < 0) throw Fallo(transformacion_ + ": transform: " + orienta_estado_texto(int32_t(malos)));
    for (size_t k = 0; malos > 0 && k < b_.n; ++k)
      if (b_.fallo[k]) sin_imagen(k);
    imprime();
    b_.vacia();
  }

  int termina() {
    vacia();
    if (sin_inversa_ == 0) return kBien;
    aviso(nombre_ + ": the inverse did not converge at " + std::to_string(sin_inversa_) + " point" +
          (sin_inversa_ == 1 ? "" : "s") + ", first at line " + std::to_string(primera_sin_inversa_) +
          " (written as nan: no preimage, past a fold of the polynomial or far outside the fitted area)");
    return kAviso;
  }

 private:
  // A polynomial has no inverse past a fold: that is an answer (no preimage), printed as nan and
  // warned about. Anything else that is not finite is a point the map cannot carry.
  void sin_imagen(size_t k) {
    if (o_.inversa && polinomio_) {
      if (sin_inversa_++ == 0) primera_sin_inversa_ = b_.lineas[k];
      return;
    }
    error_en(nombre_, b_.lineas[k], 1,
             std::string("the ") + (o_.inversa ? "inverse " : "") +
                 "image of this point is not a finite number (it lies too far out for this transformation)");
  }

  void imprime() {
    size_t desde = 0, desde_detras = 0;
    for (size_t k = 0; k < b_.n; ++k) {
      if (b_.fin_delante[k] > desde) {
        salida_.append(b_.delante, desde, b_.fin_delante[k] - desde);
        salida_ += ' ';
      }
      desde = b_.fin_delante[k];
      for (int i = 0; i < d_; ++i) {
        if (i > 0) salida_ += ' ';
        numero(b_.imagen[size_t(d_) * k + size_t(i)]);
      }
      salida_.append(b_.detras, desde_detras, b_.fin_detras[k] - desde_detras);
      desde_detras = b_.fin_detras[k];
      if (o_.precision) precision(b_.covarianza.data() + size_t(d_ * d_) * k);
      salida_ += '\n';
    }
    if (std::fwrite(salida_.data(), 1, salida_.size(), stdout) != salida_.size())
      throw Fallo("cannot write the output");
    salida_.clear();
  }

  void numero(double x) {
    char c[kFijoMaximo];
    const size_t n = o_.decimales >= 0 ? fijo_en(c, x, o_.decimales) : size_t(std::to_chars(c, c + 32, x).ptr - c);
    salida_.append(c, n);
  }

  // σ of each coordinate, and in 2D the error ellipse: semi-axes from the eigenvalues of the 2×2
  // covariance, and the bearing of the major one, clockwise from +y (north), in [0, 180°).
  void precision(const double* C) {
    for (int i = 0; i < d_; ++i) {
      salida_ += ' ';
      numero(std::sqrt(C[d_ * i + i]));
    }
    if (d_ != 2) return;
    const double medio = 0.5 * (C[0] + C[3]), r = std::hypot(0.5 * (C[0] - C[3]), C[1]);
    const double theta = 0.5 * std::atan2(2.0 * C[1], C[0] - C[3]);  // from +x, counter-clockwise
    double rumbo = 0.5 * 3.141592653589793 - theta;
    if (rumbo < 0) rumbo += 3.141592653589793;
    if (rumbo >= 3.141592653589793) rumbo -= 3.141592653589793;
    for (const double x : {std::sqrt(medio + r), std::sqrt(std::max(0.0, medio - r)), en_unidad(rumbo, o_.unidad)}) {
      salida_ += ' ';
      numero(x);
    }
  }

  const Opciones& o_;
  std::string transformacion_, nombre_;
  Precision precision_;
  orienta_transformacion t_;
  int d_;
  bool polinomio_ = false;
  Bloque b_;
  std::string salida_;
  uint64_t sin_inversa_ = 0, primera_sin_inversa_ = 0;
};

}  // namespace

int orden_aplica(const Opciones& o, const std::string& transformacion, const std::string& fichero) {
  escrituras().entrada(transformacion);
  escrituras().entrada(fichero);
  const bool estandar = fichero.empty() || fichero == "-";
  const std::string nombre = estandar ? "<stdin>" : fichero;
  Aplicacion a(o, transformacion, nombre);
  std::FILE* entrada = estandar ? stdin : std::fopen(fichero.c_str(), "rb");
  if (entrada == nullptr) throw Fallo(nombre + ": cannot open: " + std::strerror(errno));
  struct Cierra {
    std::FILE* f;
    bool cerrar;
    ~Cierra() {
      if (cerrar) std::fclose(f);
    }
  } cierra{entrada, !estandar};

  Esquema e;
  e.fijos = a.dim();
  e.numeros = a.dim() == 3 ? "x y z" : "x y";
  e.ids = o.ids;
  if (!o.columnas.orden.empty() && a.dim() == 3 && !o.columnas.con_z)
    throw Fallo(transformacion + ": a 3D transformation, but --columns names no z column");
  Lector l(entrada, nombre, o.coma_decimal);
  l.selecciona(o.columnas);
  Progreso progreso("apply " + nombre);
  std::vector<Columna> cols;
  Disposicion disp;
  while (l.siguiente(cols)) {
    progreso.avanza(l.linea());
    if (!asienta(e, l, cols, disp)) continue;
    a.anade(l, cols, disp.con_id);
  }
  return a.termina();
}

}  // namespace orienta::cli
