// --plot: the control points in plan with their residual vectors, as a standalone SVG file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>

#include "cli.hpp"

namespace orienta::cli {

namespace {

std::string xml(std::string_view s) {
  std::string r;
  for (char c : id_visible(s)) {  // control characters are not allowed in XML 1.0 text
    switch (c) {
      case '&': r += "&amp;"; break;
      case '<': r += "&lt;"; break;
      case '>': r += "&gt;"; break;
      case '"': r += "&quot;"; break;
      default: r += c;
    }
  }
  return r;
}

// m × 10^k with m one of 1, 2, 5: the steps a reader counts in without effort.
struct Redondo {
  int m = 1, k = 0;
  double valor() const { return m * std::pow(10.0, k); }
  Redondo siguiente() const { return m == 1 ? Redondo{2, k} : m == 2 ? Redondo{5, k} : Redondo{1, k + 1}; }
  int decimales() const { return std::max(0, -k); }
};

// The largest round number not above x (x > 0).
Redondo redondo(double x) {
  const int k = int(std::floor(std::log10(x)));
  const double p = std::pow(10.0, k);
  for (int m : {5, 2, 1})
    if (m * p <= x) return {m, k};
  return {1, k};
}

// The round number nearest to x on a logarithmic scale (x > 0).
Redondo redondo_cerca(double x) {
  const Redondo a = redondo(x), b = a.siguiente();
  return b.valor() / x < x / a.valor() ? b : a;
}

std::string n1(double x) { return fijo(x, 1); }

// Text width in pixels, from the display width at about 0.6 em a column (sans-serif digits are
// 0.56 em): labels are laid out before any renderer measures them.
double ancho_texto(std::string_view s, double fuente) { return 0.6 * fuente * double(ancho_visible(s)); }

// σ0 with four significant digits, whatever its size.
std::string cifras4(double x) {
  if (!(x > 0) || !std::isfinite(x)) return corto(x);
  return fijo(x, std::clamp(3 - int(std::floor(std::log10(x))), 0, 15));
}

// Layout, in pixels. The points fill a box whose sides follow the site's (within kAspecto), and
// the frame adds kHolgura around it, room for the longest vector drawn and for labels.
constexpr double kLado = 760, kAspecto = 4;
constexpr double kTitulo = 64, kDerecha = 28, kPie = 40;
constexpr double kFuente = 12, kFuenteId = 10;
// The median residual is drawn about kMediana long (shorter where points crowd), and a vector
// longer than four times that is cut there: the blunders stay on the page without setting the
// scale for the others.
constexpr double kMediana = 24, kMedianaMinima = 5, kHolgura = 4 * kMediana;
const char* const kColores[3] = {"#1f5fa8", "#e08a00", "#c41e1e"};  // used, flagged, excluded

struct Caja {
  double x0, y0, x1, y1;
};

// True when the segment (ax, ay)–(bx, by) meets the box (Liang–Barsky clipping).
bool cruza(double ax, double ay, double bx, double by, const Caja& c) {
  double t0 = 0, t1 = 1;
  const double dx = bx - ax, dy = by - ay;
  const double p[4] = {-dx, dx, -dy, dy}, q[4] = {ax - c.x0, c.x1 - ax, ay - c.y0, c.y1 - ay};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
    } else {
      const double t = q[i] / p[i];
      if (p[i] < 0)
        t0 = std::max(t0, t);
      else
        t1 = std::min(t1, t);
      if (t0 > t1) return false;
    }
  }
  return true;
}

bool se_tocan(const Caja& a, const Caja& b) { return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1; }

// Where a point's label goes: right, left, above or below the point, on the side the residual
// vector (ex, ey on the page) points away from; the next side when that one is taken by the
// vector, the height bar (barra long), the other points' vectors and bars (segmentos, as
// end points), or what is already placed (ocupadas), which gets the label's box.
struct Rotulo {
  double x, y;
  const char* ancla;
};
Rotulo coloca(double x, double y, double ex, double ey, double barra, double ancho, bool con_barra,
              const std::vector<Caja>& segmentos, std::vector<Caja>& ocupadas) {
  const double alto = 0.8 * kFuenteId, bajo = 0.25 * kFuenteId;  // ascent and descent
  const double d = 7, dd = con_barra ? 12 : d;                   // the height bar sits at x + 6
  const double yl = y + 0.35 * kFuenteId;                        // the baseline beside the point
  struct Candidato {
    double dx, dy;  // the side, as a direction on the page
    Rotulo r;
    Caja c;
  } cs[4] = {
      {1, 0, {x + dd, yl, "start"}, {x + dd, yl - alto, x + dd + ancho, yl + bajo}},
      {-1, 0, {x - d, yl, "end"}, {x - d - ancho, yl - alto, x - d, yl + bajo}},
      {0, -1, {x, y - d - bajo, "middle"}, {x - ancho / 2, y - d - bajo - alto, x + ancho / 2, y - d}},
      {0, 1, {x, y + d + alto, "middle"}, {x - ancho / 2, y + d, x + ancho / 2, y + d + alto + bajo}},
  };
  // Most opposite to the vector first; ties keep right, left, above, below.
  std::stable_sort(std::begin(cs), std::end(cs), [&](const Candidato& a, const Candidato& b) {
    return a.dx * ex + a.dy * ey < b.dx * ex + b.dy * ey;
  });
  const Candidato* elegido = nullptr;
  for (int pasada = 0; pasada < 2 && !elegido; ++pasada)  // the second pass lets labels overlap each other
    for (const Candidato& c : cs) {
      const Caja holgada{c.c.x0 - 2, c.c.y0 - 2, c.c.x1 + 2, c.c.y1 + 2};  // the arrowhead's width
      if (cruza(x, y, x + ex, y + ey, holgada)) continue;
      if (con_barra && cruza(x + 6, y, x + 6, y + barra, holgada)) continue;
      if (pasada == 0 &&
          (std::any_of(ocupadas.begin(), ocupadas.end(), [&](const Caja& o) { return se_tocan(o, c.c); }) ||
           std::any_of(segmentos.begin(), segmentos.end(),
                       [&](const Caja& t) { return cruza(t.x0, t.y0, t.x1, t.y1, holgada); })))
        continue;
      elegido = &c;
      break;
    }
  if (!elegido) elegido = &cs[0];
  ocupadas.push_back(elegido->c);
  return elegido->r;
}

}  // namespace

void dibuja(std::FILE* salida, const Dibujo& d) {
  const Conjunto& c = *d.c;
  const int dim = c.dim;
  const size_t n = c.n();
  const std::vector<uint8_t>& excluido = *d.excluido;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  double xmin = kInf, xmax = -kInf, ymin = kInf, ymax = -kInf;
  size_t excluidos = 0;
  // The drawn length of each residual used in the fit (plan vector or height bar, the longer),
  // for its median: floats, 4 bytes a pair beside the fit's own arrays.
  std::vector<float> largos;
  for (size_t k = 0; k < n; ++k) {
    const double x = c.destino[size_t(dim) * k], y = c.destino[size_t(dim) * k + 1];
    xmin = std::min(xmin, x), xmax = std::max(xmax, x), ymin = std::min(ymin, y), ymax = std::max(ymax, y);
    excluidos += excluido[k] != 0;
  }
  largos.reserve(n - excluidos);
  for (size_t k = 0; k < n; ++k) {
    // Excluded pairs do not set the factor: a blunder would shrink every other vector to a dot.
    if (excluido[k] && excluidos < n) continue;
    const double* v = &(*d.v)[size_t(dim) * k];
    const double l = std::max(std::hypot(v[0], v[1]), dim == 3 ? std::fabs(v[2]) : 0.0);
    if (std::isfinite(l) && l > 0) largos.push_back(float(l));
  }
  double mediana = 0;
  if (!largos.empty()) {
    auto medio = largos.begin() + ptrdiff_t(largos.size() / 2);
    std::nth_element(largos.begin(), medio, largos.end());
    mediana = *medio;
  }
  std::vector<float>().swap(largos);

  // The box the points fill: the site's shape, no thinner than 1 : kAspecto.
  double ancho_sitio = xmax - xmin, alto_sitio = ymax - ymin;
  if (!(std::max(ancho_sitio, alto_sitio) > 0)) ancho_sitio = alto_sitio = 1;  // one place: a metre around it
  const double aspecto = std::clamp(ancho_sitio / std::max(alto_sitio, ancho_sitio / kAspecto), 1 / kAspecto, kAspecto);
  const double caja_x = aspecto >= 1 ? kLado : kLado * aspecto, caja_y = aspecto >= 1 ? kLado / aspecto : kLado;
  const double px = std::min(caja_x / std::max(ancho_sitio, 1e-300), caja_y / std::max(alto_sitio, 1e-300));
  const double marco_x = caja_x + 2 * kHolgura, marco_y = caja_y + 2 * kHolgura;
  const double xc = 0.5 * (xmin + xmax), yc = 0.5 * (ymin + ymax);
  // Frame in target coordinates.
  const double mx0 = xc - 0.5 * marco_x / px, mx1 = xc + 0.5 * marco_x / px;
  const double my0 = yc - 0.5 * marco_y / px, my1 = yc + 0.5 * marco_y / px;

  // Grid step: the smallest round number whose labels along x keep 16 px apart, and no closer
  // than 70 px.
  const auto rotulos = [](double a, double b, Redondo paso) {
    std::vector<std::string> r;
    const double p = paso.valor();
    for (double i = std::ceil(a / p); i * p <= b; ++i) r.push_back(fijo(i * p, paso.decimales()));
    return r;
  };
  Redondo paso = redondo(70 / px);
  if (paso.valor() * px < 70) paso = paso.siguiente();
  for (int intentos = 0; intentos < 60; ++intentos, paso = paso.siguiente()) {
    double mas_ancho = 0;
    for (const std::string& t : rotulos(mx0, mx1, paso)) mas_ancho = std::max(mas_ancho, ancho_texto(t, kFuente - 1));
    if (paso.valor() * px >= mas_ancho + 16) break;
  }
  const std::vector<std::string> rx = rotulos(mx0, mx1, paso), ry = rotulos(my0, my1, paso);
  double ancho_ry = 0;
  for (const std::string& t : ry) ancho_ry = std::max(ancho_ry, ancho_texto(t, kFuente - 1));

  // Exaggeration: the median residual drawn about kMediana long, less where points are closer
  // than about that, rounded to the nearest round factor.
  const size_t usados = n - excluidos;
  const double separacion = std::sqrt(caja_x * caja_y / double(std::max<size_t>(usados, 1)));
  const double objetivo = std::clamp(0.5 * separacion, kMedianaMinima, kMediana);
  const double factor = mediana > 0 ? std::max(1.0, redondo_cerca(objetivo / (mediana * px)).valor()) : 1.0;
  const double corte_px = 4 * objetivo;
  const bool denso = separacion < 40;
  const bool con_ids = separacion >= 45;  // closer, labels would hide the vectors: ids in the tooltips
  const double trazo = denso ? 0.7 : 1.5, radio = denso ? 1 : 3;
  const double k_px = factor * px;

  // Title: model and method, σ0, the pairs used and excluded, the file.
  std::string titulo = dim == 3 ? "3D fit" : "2D fit", cifras;
  if (const Ajuste* a = d.ajuste) {
    if (a->modelo != 0) {
      const orienta_modelo_info& m = modelo(a->modelo);
      titulo = std::string(m.nombre) + ": " + m.descripcion;
    } else {
      titulo = "poly2d: constant or rigid kind";
    }
    titulo += a->descrito ? ", described" : ", least-squares adjustment";
    cifras = !std::isfinite(a->e.sigma0)
                 ? "σ0 undefined (redundancy " + std::to_string(a->e.redundancia) + ") · "
                 : "σ0 " + cifras4(a->e.sigma0) + (a->e.con_sigma ? " (of unit weight)" : " m") + " · ";
  }
  cifras += std::to_string(n) + " pairs: " + std::to_string(usados) + " used, " + std::to_string(excluidos) +
            " excluded · " + c.nombre;
  // Legend lines: the scale of the coordinates and what it means for the exaggerated residuals,
  // the arrows, the cut vectors, the height bars.
  const double barra = redondo(0.25 * std::max(ancho_sitio, alto_sitio)).valor();
  const std::string escala = corto(barra) + " m; residuals ×" + corto(factor) + ": the bar is " +
                             corto(barra / factor) + " m of residual (median residual " + cifras4(mediana) + " m)";
  const std::string flechas = std::string("arrows: plan residual v = transformed source − target, drawn from the ") +
                              "target point" + (con_ids ? "" : "; ids in each point's tooltip");
  const std::string cortes =
      "dashed: longer than " + cifras4(corte_px / k_px) + " m of residual, cut to fit; the true |v| beside the id";
  const std::string alturas =
      dim == 3 ? "bars right of the points: height residual vz, same factor; up where positive (transformed source "
                 "above the target)"
               : "";

  // The canvas holds the frame with its coordinates, and the title and legend at their length.
  const double izquierda = std::max(ancho_texto("target y (m)", kFuente - 1) + 12, ancho_ry + 30);
  const double texto_max =
      std::max({0.65 * 15 / kFuente * ancho_texto(titulo, kFuente) + 50, ancho_texto(cifras, kFuente) + 50,
                barra * px + 8 + ancho_texto(escala, kFuente), ancho_texto(flechas, kFuente),
                30 + ancho_texto(cortes, kFuente), 14 + ancho_texto(alturas, kFuente), 420.0});
  const double ancho = izquierda + std::max(marco_x, texto_max) + kDerecha;
  const double alto = kTitulo + marco_y + kPie + (dim == 3 ? 112 : 92);
  auto X = [&](double x) { return izquierda + 0.5 * marco_x + (x - xc) * px; };
  auto Y = [&](double y) { return kTitulo + 0.5 * marco_y - (y - yc) * px; };  // north up
  // A point on the page with its vector and height bar. A vector or bar longer than corte_px (a
  // blunder) is cut to it and dashed, so that it stays on the drawing; its label gives the true
  // length.
  struct Trazo {
    double x, y, ex, ey, ez;
    bool cortado;
  };
  const auto trazo_de = [&](size_t k) {
    const double* v = &(*d.v)[size_t(dim) * k];
    const double largo = std::max(std::hypot(v[0], v[1]), dim == 3 ? std::fabs(v[2]) : 0.0) * k_px;
    const double f = k_px * (largo > corte_px ? corte_px / largo : 1.0);
    const double* p = &c.destino[size_t(dim) * k];
    return Trazo{X(p[0]), Y(p[1]), v[0] * f, -v[1] * f, dim == 3 ? -v[2] * f : 0, largo > corte_px};
  };
  // Labels keep off the points, the vectors and each other (only where there are few points).
  std::vector<Caja> ocupadas, segmentos;
  if (con_ids)
    for (size_t k = 0; k < n; ++k) {
      const Trazo t = trazo_de(k);
      ocupadas.push_back({t.x - radio, t.y - radio, t.x + radio, t.y + radio});
      segmentos.push_back({t.x, t.y, t.x + t.ex, t.y + t.ey});
      if (dim == 3) segmentos.push_back({t.x + 6, t.y, t.x + 6, t.y + t.ez});
    }

  std::ostringstream s;
  s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << n1(ancho) << "\" height=\"" << n1(alto)
    << "\" viewBox=\"0 0 " << n1(ancho) << ' ' << n1(alto) << "\" font-family=\"sans-serif\" font-size=\"" << kFuente
    << "\">\n"
    << "<title>orienta: residuals of " << xml(c.nombre) << "</title>\n"
    << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
    << "<defs><marker id=\"punta\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" markerWidth=\"" << (denso ? 5 : 4)
    << "\" markerHeight=\"" << (denso ? 5 : 4)
    << "\" orient=\"auto-start-reverse\"><path d=\"M 0 0 L 10 5 L 0 10 z\" fill=\"context-stroke\"/></marker>"
       "<clipPath id=\"recorte\"><rect x=\""
    << n1(izquierda) << "\" y=\"" << n1(kTitulo) << "\" width=\"" << n1(marco_x) << "\" height=\"" << n1(marco_y)
    << "\"/></clipPath></defs>\n";

  s << "<g class=\"titulo\"><text x=\"" << n1(izquierda) << "\" y=\"24\" font-size=\"15\" font-weight=\"bold\">"
    << xml(titulo) << "</text>\n<text class=\"cifras\" x=\"" << n1(izquierda) << "\" y=\"44\">" << xml(cifras)
    << "</text></g>\n";
  // North arrow, in the title band at the right.
  {
    const double xn = ancho - kDerecha - 8;
    s << "<g class=\"norte\"><path d=\"M " << n1(xn) << " 22 L " << n1(xn + 7) << " 56 L " << n1(xn) << " 49 L "
      << n1(xn - 7) << " 56 z\" fill=\"black\"/><text x=\"" << n1(xn) << "\" y=\"18\" text-anchor=\"middle\" "
      << "font-weight=\"bold\">N</text></g>\n";
  }
  // Grid, frame and axes with their coordinates.
  {
    const double x0 = izquierda, x1 = izquierda + marco_x, y0 = kTitulo, y1 = kTitulo + marco_y;
    const double p = paso.valor();
    std::ostringstream rejilla, marcas;
    size_t i = 0;
    for (double j = std::ceil(mx0 / p); j * p <= mx1; ++j, ++i) {
      const double x = X(j * p);
      rejilla << "M " << n1(x) << ' ' << n1(y0) << " V " << n1(y1) << ' ';
      marcas << "<g class=\"marca-x\"><line x1=\"" << n1(x) << "\" y1=\"" << n1(y1) << "\" x2=\"" << n1(x) << "\" y2=\""
             << n1(y1 + 5) << "\" stroke=\"black\"/><text x=\"" << n1(x) << "\" y=\"" << n1(y1 + 17)
             << "\" text-anchor=\"middle\" font-size=\"" << kFuente - 1 << "\">" << rx[i] << "</text></g>\n";
    }
    i = 0;
    for (double j = std::ceil(my0 / p); j * p <= my1; ++j, ++i) {
      const double y = Y(j * p);
      rejilla << "M " << n1(x0) << ' ' << n1(y) << " H " << n1(x1) << ' ';
      marcas << "<g class=\"marca-y\"><line x1=\"" << n1(x0 - 5) << "\" y1=\"" << n1(y) << "\" x2=\"" << n1(x0)
             << "\" y2=\"" << n1(y) << "\" stroke=\"black\"/><text x=\"" << n1(x0 - 8) << "\" y=\"" << n1(y + 4)
             << "\" text-anchor=\"end\" font-size=\"" << kFuente - 1 << "\">" << ry[i] << "</text></g>\n";
    }
    s << "<path class=\"rejilla\" d=\"" << rejilla.str()
      << "\" stroke=\"#e2e2e2\" stroke-width=\"0.7\" fill=\"none\"/>\n"
      << "<rect class=\"marco\" x=\"" << n1(x0) << "\" y=\"" << n1(y0) << "\" width=\"" << n1(marco_x) << "\" height=\""
      << n1(marco_y) << "\" fill=\"none\" stroke=\"black\"/>\n"
      << "<g class=\"ejes\">\n"
      << marcas.str() << "<text x=\"" << n1(x1) << "\" y=\"" << n1(y1 + 32) << "\" text-anchor=\"end\" font-size=\""
      << kFuente - 1 << "\">target x (m), grid " << corto(p) << " m</text>\n<text x=\"" << n1(x0 - 8) << "\" y=\""
      << n1(y0 - 6) << "\" text-anchor=\"end\" font-size=\"" << kFuente - 1 << "\">target y (m)</text></g>\n";
  }

  // Written out a megabyte at a time: a million points make half a gigabyte of SVG.
  const auto vacia = [&](bool siempre) {
    if (!siempre && s.tellp() < (std::streamoff(1) << 20)) return;
    const std::string texto = s.str();
    std::fwrite(texto.data(), 1, texto.size(), salida);  // a failure shows when the file is closed
    s.str("");
  };
  s << "<g class=\"puntos\" clip-path=\"url(#recorte)\">\n";
  for (size_t k = 0; k < n; ++k) {
    vacia(false);
    const Trazo t = trazo_de(k);
    const double x = t.x, y = t.y, ex = t.ex, ey = t.ey, ez = t.ez;
    const bool cortado = t.cortado;
    const double* v = &(*d.v)[size_t(dim) * k];
    const double* w = &(*d.w)[size_t(dim) * k];
    double wmax = 0;
    for (int i = 0; i < dim; ++i)
      if (std::isfinite(w[i])) wmax = std::max(wmax, std::fabs(w[i]));
    const int tipo = excluido[k] ? 2 : wmax > d.umbral ? 1 : 0;
    const char* color = kColores[tipo];
    std::string id = c.ids[k].empty() ? "line " + std::to_string(c.lineas[k]) : std::string(c.ids[k]);
    const char* clase = cortado ? " cortado\" stroke-dasharray=\"4 3" : "";
    s << "<g><title>" << xml(id) << "</title>\n"
      << "<circle class=\"punto\" cx=\"" << n1(x) << "\" cy=\"" << n1(y) << "\" r=\"" << radio << "\" fill=\"" << color
      << "\"/>\n"
      << "<line class=\"residuo" << clase << "\" x1=\"" << n1(x) << "\" y1=\"" << n1(y) << "\" x2=\"" << n1(x + ex)
      << "\" y2=\"" << n1(y + ey) << "\" stroke=\"" << color << "\" stroke-width=\"" << (tipo > 0 ? 1.5 : trazo)
      << "\" marker-end=\"url(#punta)\"/>\n";
    if (dim == 3)  // height residual: a vertical bar just right of the point, up for positive
      s << "<line class=\"altura" << clase << "\" x1=\"" << n1(x + 6) << "\" y1=\"" << n1(y) << "\" x2=\"" << n1(x + 6)
        << "\" y2=\"" << n1(y + ez) << "\" stroke=\"" << color << "\" stroke-width=\"" << 2 * trazo
        << "\" opacity=\"0.6\"/>\n";
    if (con_ids || cortado) {
      if (cortado) {
        double l2 = 0;
        for (int i = 0; i < dim; ++i) l2 += v[i] * v[i];
        id += " |v| " + fijo(std::sqrt(l2), 3) + " m";
      }
      const std::string texto = xml(id);
      const Rotulo r = coloca(x, y, ex, ey, ez, ancho_texto(id_visible(id), kFuenteId), dim == 3, segmentos, ocupadas);
      s << "<text class=\"id\" x=\"" << n1(r.x) << "\" y=\"" << n1(r.y) << "\" text-anchor=\"" << r.ancla
        << "\" font-size=\"" << kFuenteId << "\" fill=\"#333\">" << texto << "</text>\n";
    }
    s << "</g>\n";
  }
  s << "</g>\n";

  // Legend, below the frame's coordinates.
  {
    const double yb = kTitulo + marco_y + kPie + 16, x0 = izquierda;
    s << "<g class=\"escala\"><line x1=\"" << n1(x0) << "\" y1=\"" << n1(yb) << "\" x2=\"" << n1(x0 + barra * px)
      << "\" y2=\"" << n1(yb) << "\" stroke=\"black\" stroke-width=\"3\"/>\n"
      << "<text x=\"" << n1(x0 + barra * px + 8) << "\" y=\"" << n1(yb + 4) << "\">" << xml(escala) << "</text></g>\n";
    static const char* const kNombres[3] = {"used", "flagged (|w| > ", "excluded"};
    double xl = x0 + 4;
    const double y2 = yb + 22;
    for (int t = 0; t < 3; ++t) {
      const std::string texto = t == 1 ? kNombres[1] + fijo(d.umbral, 2) + ")" : kNombres[t];
      s << "<g class=\"leyenda\"><circle cx=\"" << n1(xl) << "\" cy=\"" << n1(y2) << "\" r=\"4\" fill=\"" << kColores[t]
        << "\"/><text x=\"" << n1(xl + 9) << "\" y=\"" << n1(y2 + 4) << "\">" << xml(texto) << "</text></g>\n";
      xl += 24 + ancho_texto(texto, kFuente);
    }
    s << "<text class=\"leyenda\" x=\"" << n1(x0) << "\" y=\"" << n1(y2 + 22) << "\">" << xml(flechas) << "</text>\n";
    s << "<g class=\"leyenda cortado\"><line x1=\"" << n1(x0) << "\" y1=\"" << n1(y2 + 40) << "\" x2=\"" << n1(x0 + 24)
      << "\" y2=\"" << n1(y2 + 40) << "\" stroke=\"#555\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\"/><text x=\""
      << n1(x0 + 30) << "\" y=\"" << n1(y2 + 44) << "\">" << xml(cortes) << "</text></g>\n";
    if (dim == 3)
      s << "<g class=\"leyenda altura\"><line x1=\"" << n1(x0 + 4) << "\" y1=\"" << n1(y2 + 66) << "\" x2=\""
        << n1(x0 + 4) << "\" y2=\"" << n1(y2 + 52) << "\" stroke=\"#555\" stroke-width=\"3\" opacity=\"0.6\"/>"
        << "<text x=\"" << n1(x0 + 14) << "\" y=\"" << n1(y2 + 64) << "\">" << xml(alturas) << "</text></g>\n";
  }
  s << "</svg>\n";
  vacia(true);
}

}  // namespace orienta::cli
