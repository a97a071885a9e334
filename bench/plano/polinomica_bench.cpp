// Polynomial transformations: estimation of kinds 3, 6 and 7 against the same least-squares fit
// written with Eigen (normal equations solved by LDLT, and column-pivoting QR on the design
// matrix), and the evaluation of an estimated record, in points per second.
#include "orienta.h"

#include <Eigen/Cholesky>
#include <Eigen/QR>

#include <string>

#include "comun.hpp"

namespace orienta::banco {
namespace {

// Parameters per coordinate of each polynomial kind.
int incognitas(uint32_t tipo) { return tipo == 3 ? 3 : tipo == 6 ? 6 : 10; }

template <class T>
void nuestro(benchmark::State& estado, uint32_t tipo, int64_t datos) {
  const Conjunto<2, T> d(uint32_t(estado.range(0)), datos);
  prueba::Polinomica<T> t{};
  por_estimacion(estado, [&] {
    t.tipo = tipo;
    prueba::estima(&t, d.P.data(), d.n);
    benchmark::DoNotOptimize(t);
  });
}

// The same fit as the library's, as one would write it with Eigen: the monomials of the source
// point minus the source centroid as columns of the design matrix, both target coordinates as
// right-hand sides.
template <class T>
void ajuste_eigen(benchmark::State& estado, uint32_t tipo, bool qr, int64_t datos) {
  const Conjunto<2, T> d(uint32_t(estado.range(0)), datos);
  using Matriz = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>;
  using Puntos = Eigen::Matrix<T, 2, Eigen::Dynamic>;
  const Eigen::Map<const Puntos> origen(d.S.data(), 2, d.n), destino(d.D.data(), 2, d.n);
  const int u = incognitas(tipo);
  por_estimacion(estado, [&] {
    const Eigen::Matrix<T, 2, 1> c = origen.rowwise().mean();
    Matriz A(d.n, u);
    A.col(0).setOnes();
    A.col(1) = origen.row(0).transpose().array() - c(0);
    A.col(2) = origen.row(1).transpose().array() - c(1);
    if (u >= 6) {
      A.col(3) = A.col(1).array().square();
      A.col(4) = A.col(1).array() * A.col(2).array();
      A.col(5) = A.col(2).array().square();
    }
    if (u == 10) {
      A.col(6) = A.col(3).array() * A.col(1).array();
      A.col(7) = A.col(4).array() * A.col(1).array();
      A.col(8) = A.col(5).array() * A.col(1).array();
      A.col(9) = A.col(5).array() * A.col(2).array();
    }
    Eigen::Matrix<T, Eigen::Dynamic, 2> X;
    if (qr) {
      X = A.colPivHouseholderQr().solve(destino.transpose());
    } else {
      Matriz N = Matriz::Zero(u, u);
      N.template selfadjointView<Eigen::Lower>().rankUpdate(A.transpose());
      const Eigen::Matrix<T, Eigen::Dynamic, 2> b = A.transpose() * destino.transpose();
      X = N.template selfadjointView<Eigen::Lower>().ldlt().solve(b);
    }
    benchmark::DoNotOptimize(X.data());
    benchmark::ClobberMemory();
  });
}

// Carrying the source points through a record estimated from them, one call per point, the
// result written to a second buffer.
template <class T>
void transforma(benchmark::State& estado, uint32_t tipo) {
  const Conjunto<2, T> d(uint32_t(estado.range(0)), kRuido);
  prueba::Polinomica<T> t{};
  t.tipo = tipo;
  prueba::estima(&t, d.P.data(), d.n);
  std::vector<T> salida(2 * size_t(d.n));
  por_estimacion(estado, [&] {
    for (size_t i = 0; i < d.n; ++i) {
      T punto[2] = {d.S[2 * i], d.S[2 * i + 1]};
      prueba::punto(&t, punto);
      salida[2 * i] = punto[0];
      salida[2 * i + 1] = punto[1];
    }
    benchmark::DoNotOptimize(salida.data());
    benchmark::ClobberMemory();
  });
}

template <class T>
void registra() {
  const std::string s = sufijo<T>();
  for (uint32_t tipo : {3u, 6u, 7u}) {
    const std::string k = "/tipo" + std::to_string(tipo);
    for (int64_t datos : {kExactos, kRuido}) {
      const std::string dd = std::string("/") + nombre_datos(datos);
      benchmark::RegisterBenchmark(("Trans_Polinomica2D___puntosxy_" + s + k + dd).c_str(), nuestro<T>, tipo, datos)
          ->Apply(tamanos);
      if (!std::is_same_v<T, double>) continue;  // the float twin is timed against the read only
      benchmark::RegisterBenchmark(("eigen_ldlt_" + s + k + dd).c_str(), ajuste_eigen<T>, tipo, false, datos)
          ->Apply(tamanos);
      benchmark::RegisterBenchmark(("eigen_qr_" + s + k + dd).c_str(), ajuste_eigen<T>, tipo, true, datos)
          ->Apply(tamanos);
    }
    benchmark::RegisterBenchmark(("transforma_punto2D_" + s + k).c_str(), transforma<T>, tipo)
        ->Args({10000})
        ->ArgNames({"n"});
  }
  benchmark::RegisterBenchmark(("lectura/Trans_Polinomica2D___puntosxy_" + s).c_str(), lectura_ptr<2, T>)
      ->Apply(tamanos);
}

const bool registrado = (registra<double>(), registra<float>(), true);

}  // namespace
}  // namespace orienta::banco
