// --plot: the control points in plan with their residual vectors, as a standalone SVG file.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
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

// The largest of 1, 2, 5 × 10^k not above x (x > 0).
double redondo(double x) {
  const double p = std::pow(10.0, std::floor(std::log10(x)));
  for (double m : {5.0, 2.0, 1.0})
    if (m * p <= x) return m * p;
  return p;
}

std::string n1(double x) { return fijo(x, 1); }

constexpr double kAncho = 800, kAlto = 800, kMargen = 60, kLeyenda = 90;
const char* const kColores[3] = {"#1f5fa8", "#e08a00", "#c41e1e"};  // used, flagged, excluded

// Scale bar of the coordinates, with what it means for the exaggerated residuals, and the key.
void leyenda(std::ostringstream& s, double barra, double px, double factor, double umbral, int dim) {
  const double yb = kAlto + 20;
  s << "<g class=\"escala\"><line x1=\"" << kMargen << "\" y1=\"" << yb << "\" x2=\"" << n1(kMargen + barra * px)
    << "\" y2=\"" << yb << "\" stroke=\"black\" stroke-width=\"3\"/>\n"
    << "<text x=\"" << kMargen << "\" y=\"" << yb + 18 << "\">" << corto(barra) << " m; residuals ×" << corto(factor)
    << ": the bar is " << corto(barra / factor) << " m of residual</text></g>\n";
  static const char* const kNombres[3] = {"used", "flagged (|w| > ", "excluded"};
  double xl = kAncho / 2;
  for (int t = 0; t < 3; ++t) {
    const std::string texto = t == 1 ? kNombres[1] + fijo(umbral, 2) + ")" : kNombres[t];
    s << "<g class=\"leyenda\"><circle cx=\"" << xl << "\" cy=\"" << yb << "\" r=\"4\" fill=\"" << kColores[t]
      << "\"/><text x=\"" << xl + 8 << "\" y=\"" << yb + 4 << "\">" << xml(texto) << "</text></g>\n";
    xl += t == 1 ? 150 : 70;
  }
  s << "<text x=\"" << kAncho / 2 << "\" y=\"" << yb + 28 << "\">dashed: cut to fit</text>\n";
  if (dim == 3)
    s << "<text x=\"" << kAncho / 2 << "\" y=\"" << yb + 46
      << "\">bars beside the points: height residuals, same factor</text>\n";
}

}  // namespace

void dibuja(std::FILE* salida, const Dibujo& d) {
  const Conjunto& c = *d.c;
  const int dim = c.dim;
  const size_t n = c.n();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  double xmin = kInf, xmax = -kInf, ymin = kInf, ymax = -kInf, vmax = 0;
  for (size_t k = 0; k < n; ++k) {
    const double x = c.destino[size_t(dim) * k], y = c.destino[size_t(dim) * k + 1];
    xmin = std::min(xmin, x), xmax = std::max(xmax, x), ymin = std::min(ymin, y), ymax = std::max(ymax, y);
    // Excluded pairs do not set the factor: a blunder would shrink every other vector to a dot.
    for (int i = 0; i < dim && !(*d.excluido)[k]; ++i) {
      const double v = (*d.v)[size_t(dim) * k + size_t(i)];
      if (std::isfinite(v)) vmax = std::max(vmax, std::fabs(v));
    }
  }
  const double extension = std::max({xmax - xmin, ymax - ymin, 1e-9});
  const double px = (kAncho - 2 * kMargen) / extension;  // pixels a metre
  // Residuals exaggerated so that the longest kept is about a tenth of the drawing.
  const double factor = vmax > 0 ? std::max(1.0, redondo(0.1 * extension / vmax)) : 1.0;
  auto X = [&](double x) { return kMargen + (x - xmin) * px; };
  auto Y = [&](double y) { return kMargen + (ymax - y) * px; };  // north up

  std::ostringstream s;
  s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kAncho << "\" height=\"" << kAlto + kLeyenda
    << "\" viewBox=\"0 0 " << kAncho << ' ' << kAlto + kLeyenda << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
    << "<title>orienta: residuals of " << xml(c.nombre) << "</title>\n"
    << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
    << "<defs><marker id=\"punta\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" markerWidth=\"6\" markerHeight=\"6\" "
       "orient=\"auto-start-reverse\"><path d=\"M 0 0 L 10 5 L 0 10 z\" fill=\"context-stroke\"/></marker></defs>\n";
  // Written out a megabyte at a time: a million points make half a gigabyte of SVG.
  const auto vacia = [&](bool siempre) {
    if (!siempre && s.tellp() < (std::streamoff(1) << 20)) return;
    const std::string texto = s.str();
    std::fwrite(texto.data(), 1, texto.size(), salida);  // a failure shows when the file is closed
    s.str("");
  };
  for (size_t k = 0; k < n; ++k) {
    vacia(false);
    const double x = X(c.destino[size_t(dim) * k]), y = Y(c.destino[size_t(dim) * k + 1]);
    const double* v = &(*d.v)[size_t(dim) * k];
    const double* w = &(*d.w)[size_t(dim) * k];
    double wmax = 0;
    for (int i = 0; i < dim; ++i)
      if (std::isfinite(w[i])) wmax = std::max(wmax, std::fabs(w[i]));
    const int tipo = (*d.excluido)[k] ? 2 : wmax > d.umbral ? 1 : 0;
    const char* color = kColores[tipo];
    const std::string id = c.ids[k].empty() ? "line " + std::to_string(c.lineas[k]) : std::string(c.ids[k]);
    // A vector longer than the margin (an excluded blunder) is cut to it and dashed, so that it
    // stays on the drawing.
    double largo = 0;
    for (int i = 0; i < dim; ++i) largo = std::max(largo, std::fabs(v[i]) * factor * px);
    const double corte = largo > kMargen ? kMargen / largo : 1.0;
    const char* trazo = corte < 1.0 ? "\" stroke-dasharray=\"4 3" : "";
    s << "<g><title>" << xml(id) << "</title>\n"
      << "<circle class=\"punto\" cx=\"" << n1(x) << "\" cy=\"" << n1(y) << "\" r=\"3\" fill=\"" << color << "\"/>\n"
      << "<line class=\"residuo\" x1=\"" << n1(x) << "\" y1=\"" << n1(y) << "\" x2=\""
      << n1(x + v[0] * factor * px * corte) << "\" y2=\"" << n1(y - v[1] * factor * px * corte) << "\" stroke=\""
      << color << trazo << "\" stroke-width=\"1.5\" marker-end=\"url(#punta)\"/>\n";
    if (dim == 3)  // height residual: a vertical bar just right of the point, up for positive
      s << "<line class=\"altura\" x1=\"" << n1(x + 6) << "\" y1=\"" << n1(y) << "\" x2=\"" << n1(x + 6) << "\" y2=\""
        << n1(y - v[2] * factor * px * corte) << "\" stroke=\"" << color << trazo
        << "\" stroke-width=\"3\" opacity=\"0.6\"/>\n";
    s << "<text x=\"" << n1(x + 10) << "\" y=\"" << n1(y + 14) << "\" fill=\"#444\">" << xml(id) << "</text></g>\n";
  }
  leyenda(s, redondo(0.25 * extension), px, factor, d.umbral, dim);
  s << "</svg>\n";
  vacia(true);
}

}  // namespace orienta::cli
