// Least squares one row at a time: a Givens QR that never stores the design, the triangular
// solves around it, and the condition number of the column-equilibrated design.
#ifndef ORIENTA_AJUSTE_MINIMOS_HPP
#define ORIENTA_AJUSTE_MINIMOS_HPP

#include <Eigen/Dense>

#include "interno.hpp"

#include <cmath>
#include <limits>

namespace orienta::interno {

// R and Qᵀb of the weighted design, built row by row with Givens rotations. Orthogonal updates keep
// the accuracy of a QR factorisation (the normal equations would square the condition number),
// and the memory is U² doubles whatever the number of pairs, so a fit needs no heap for it.
template <int U>
struct AcumuladorQR {
  double r[U][U];  // upper triangle of R; below the diagonal unused
  double z[U];     // Qᵀb

  void vacia() {
    for (int j = 0; j < U; ++j) {
      z[j] = 0.0;
      for (int k = 0; k < U; ++k) r[j][k] = 0.0;
    }
  }

  // Row a (already multiplied by √p) with right-hand side b; a is overwritten.
  void anade(double* a, double b) {
    for (int j = 0; j < U; ++j) {
      if (a[j] == 0.0) continue;  // sparse rows (one coordinate of a polynomial) skip whole blocks
      // hypot, not √(x² + y²): R's diagonal grows as √(Σ a²) and may pass 1e154 before the sum
      // of squares would overflow.
      const double h = std::hypot(r[j][j], a[j]);
      const double c = r[j][j] / h, s = a[j] / h;
      r[j][j] = h;
      for (int k = j + 1; k < U; ++k) {
        const double t = r[j][k];
        r[j][k] = c * t + s * a[k];
        a[k] = c * a[k] - s * t;
      }
      const double t = z[j];
      z[j] = c * t + s * b;
      b = c * b - s * t;
    }
  }

  // x = R⁻¹·z. False when a diagonal entry is zero or anything is not finite.
  bool resuelve(double* x) const {
    for (int j = U - 1; j >= 0; --j) {
      double t = z[j];
      for (int k = j + 1; k < U; ++k) t -= r[j][k] * x[k];
      x[j] = t / r[j][j];
      if (!std::isfinite(x[j])) return false;
    }
    return true;
  }

  // y = R⁻ᵀ·a (forward substitution): |y|² is the leverage aᵀ(AᵀPA)⁻¹a of a weighted row.
  void resuelve_traspuesta(const double* a, double* y) const {
    for (int j = 0; j < U; ++j) {
      double t = a[j];
      for (int k = 0; k < j; ++k) t -= r[k][j] * y[k];
      y[j] = t / r[j][j];
    }
  }

  // Q = (AᵀPA)⁻¹ = R⁻¹·R⁻ᵀ by rows (U×U), from the inverse of the triangle.
  void cofactores(double* q) const {
    double ri[U][U] = {};
    for (int j = 0; j < U; ++j) {
      ri[j][j] = 1.0 / r[j][j];
      for (int i = j - 1; i >= 0; --i) {
        double t = 0.0;
        for (int k = i + 1; k <= j; ++k) t += r[i][k] * ri[k][j];
        ri[i][j] = -t / r[i][i];
      }
    }
    for (int i = 0; i < U; ++i)
      for (int j = 0; j < U; ++j) {
        double t = 0.0;
        for (int k = (i > j ? i : j); k < U; ++k) t += ri[i][k] * ri[j][k];
        q[i * U + j] = t;
      }
  }

  // 2-norm condition number of the design with every column scaled to unit norm. The columns of R
  // have the norms of the weighted design's columns (Q is orthogonal), so R alone suffices.
  double condicion() const {
    Eigen::Matrix<double, U, U> m;
    for (int k = 0; k < U; ++k) {
      double norma = 0.0;
      for (int j = 0; j <= k; ++j) norma = std::hypot(norma, r[j][k]);
      for (int j = 0; j < U; ++j) m(j, k) = j <= k && norma > 0.0 ? r[j][k] / norma : 0.0;
    }
    const Eigen::JacobiSVD<Eigen::Matrix<double, U, U>> svd(m);
    const auto& v = svd.singularValues();
    const double menor = v(U - 1);
    return menor > 0.0 ? v(0) / menor : std::numeric_limits<double>::infinity();
  }
};

}  // namespace orienta::interno

#endif
