// Rotation matrices from angles and vectors, and angles and vectors back from matrices, per call,
// against what Eigen offers for the same job (AngleAxis, Quaternion, eulerAngles, products of
// elementary rotations). Each call takes the next of 1024 prepared inputs, so neither side sees
// a constant it could fold or a branch it could learn.
#include "orienta.h"

#include <Eigen/Geometry>

#include <array>
#include <string>

#include "comun.hpp"

namespace orienta::banco {
namespace {

constexpr size_t kEntradas = 1024;

struct Entradas {
  std::vector<std::array<double, 3>> angulos;  // ω, φ, κ in (−π, π) × (−π/2, π/2) × (−π, π)
  std::vector<SenosCosenos> sc;                // their sines and cosines
  std::vector<std::array<double, 3>> vector;   // a rotation vector θ·n, θ < π
  std::vector<Eigen::Matrix3d> matriz;         // Rz(κ)·Ry(φ)·Rx(ω), as Eigen stores it
  std::vector<Eigen::Matrix3d> filas;          // its transpose: the same matrix by rows
  Entradas() {
    std::mt19937_64 azar(0x70ca);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (size_t i = 0; i < kEntradas; ++i) {
      const std::array<double, 3> a = {3.1 * u(azar), 1.5 * u(azar), 3.1 * u(azar)};
      angulos.push_back(a);
      sc.push_back({{std::sin(a[0]), std::cos(a[0]), std::sin(a[1]), std::cos(a[1]), std::sin(a[2]), std::cos(a[2])}});
      vector.push_back({1.7 * u(azar), 1.7 * u(azar), 1.7 * u(azar)});
      Eigen::Matrix3d m =
          (Eigen::AngleAxisd(a[2], Eigen::Vector3d::UnitZ()) * Eigen::AngleAxisd(a[1], Eigen::Vector3d::UnitY()) *
           Eigen::AngleAxisd(a[0], Eigen::Vector3d::UnitX()))
              .toRotationMatrix();
      matriz.push_back(m);
      filas.push_back(m.transpose());
    }
  }
};
const Entradas& entradas() {
  static const Entradas e;
  return e;
}

template <class F>
void por_llamada(benchmark::State& estado, F f) {
  size_t i = 0;
  for (auto _ : estado) {
    f(i);
    benchmark::ClobberMemory();
    i = (i + 1) & (kEntradas - 1);
  }
  estado.SetItemsProcessed(int64_t(estado.iterations()));
}

using V3 = Eigen::Vector3d;
Eigen::Matrix3d rx(double s, double c) {
  Eigen::Matrix3d m;
  m << 1, 0, 0, 0, c, -s, 0, s, c;
  return m;
}
Eigen::Matrix3d ry(double s, double c) {
  Eigen::Matrix3d m;
  m << c, 0, s, 0, 1, 0, -s, 0, c;
  return m;
}
Eigen::Matrix3d rz(double s, double c) {
  Eigen::Matrix3d m;
  m << c, -s, 0, s, c, 0, 0, 0, 1;
  return m;
}

template <class F>
void registra(const char* nombre, F f) {
  benchmark::RegisterBenchmark(nombre, [f](benchmark::State& s) { por_llamada(s, f); });
}

// A library builder that fills a Matriz3x3. (Eigen's builders keep their own bodies: how a product
// expression is evaluated into its matrix changes its time.)
template <class F>
void registra_matriz(const char* nombre, F f) {
  registra(nombre, [f](size_t i) {
    Matriz3x3 M;
    f(i, M);
    benchmark::DoNotOptimize(M);
  });
}

void registra_todo() {
  const Entradas& e = entradas();
  // ---- from sines and cosines: against the product of Eigen's elementary matrices
  registra_matriz("MatrizRotGT_ωφκ", [&e](size_t i, Matriz3x3 M) { MatrizRotGT_ωφκ(&e.sc[i], M); });
  registra("eigen_producto_zyx", [&e](size_t i) {
    const double* v = e.sc[i].v;
    Eigen::Matrix3d M = rz(v[4], v[5]) * ry(v[2], v[3]) * rx(v[0], v[1]);
    benchmark::DoNotOptimize(M.data());
  });
  registra_matriz("MatrizRotGT_κωφ", [&e](size_t i, Matriz3x3 M) {
    SenosCosenos sc = e.sc[i];  // reordered in place by the call
    MatrizRotGT_κωφ(&sc, M);
  });
  registra("eigen_producto_yxz", [&e](size_t i) {
    const double* v = e.sc[i].v;
    Eigen::Matrix3d M = ry(v[2], v[3]) * rx(v[0], v[1]) * rz(v[4], v[5]);
    benchmark::DoNotOptimize(M.data());
  });
  registra_matriz("MatrizRotGT_κwκ", [&e](size_t i, Matriz3x3 M) { MatrizRotGT_κwκ(&e.sc[i], M); });
  registra("eigen_producto_zxz", [&e](size_t i) {
    const double* v = e.sc[i].v;
    Eigen::Matrix3d M = rz(v[4], v[5]) * rx(v[2], v[3]) * rz(v[0], v[1]);
    benchmark::DoNotOptimize(M.data());
  });
  // ---- from angles: against composed AngleAxis
  registra_matriz("MatrizRot_κωφ", [&e](size_t i, Matriz3x3 M) {
    double a[3] = {e.angulos[i][0], e.angulos[i][1], e.angulos[i][2]};  // reordered in place
    MatrizRot_κωφ(a, M);
  });
  registra("eigen_angleaxis_yxz", [&e](size_t i) {
    const auto& a = e.angulos[i];
    Eigen::Matrix3d M = (Eigen::AngleAxisd(a[1], V3::UnitY()) * Eigen::AngleAxisd(a[0], V3::UnitX()) *
                         Eigen::AngleAxisd(a[2], V3::UnitZ()))
                            .toRotationMatrix();
    benchmark::DoNotOptimize(M.data());
  });
  // ---- from vectors: against AngleAxis and Quaternion
  registra_matriz("MatrizRot_20", [&e](size_t i, Matriz3x3 M) {
    double p[3] = {e.vector[i][0], e.vector[i][1], e.vector[i][2]};  // overwritten
    MatrizRot_20(p, M);
  });
  registra("eigen_angleaxis_vector", [&e](size_t i) {
    const V3 p(e.vector[i][0], e.vector[i][1], e.vector[i][2]);
    const double t = p.norm();
    Eigen::Matrix3d M = Eigen::AngleAxisd(t, p / t).toRotationMatrix();
    benchmark::DoNotOptimize(M.data());
  });
  // Type 24 is twice the vector part of a unit quaternion with a non-negative scalar part.
  registra_matriz("MatrizRot_24", [&e](size_t i, Matriz3x3 M) {
    const V3 v(e.vector[i][0], e.vector[i][1], e.vector[i][2]);
    double p[3] = {v[0] * 0.5, v[1] * 0.5, v[2] * 0.5};  // |p| ≤ 2
    MatrizRot_24(p, M);
  });
  registra("eigen_quaternion_24", [&e](size_t i) {
    const V3 q = V3(e.vector[i][0], e.vector[i][1], e.vector[i][2]) * 0.25;
    const Eigen::Quaterniond c(std::sqrt(1.0 - q.squaredNorm()), q[0], q[1], q[2]);
    Eigen::Matrix3d M = c.toRotationMatrix();
    benchmark::DoNotOptimize(M.data());
  });
  // Type 26 is twice the Gibbs vector: the quaternion (1, p/2) normalised.
  registra_matriz("MatrizRot_26", [&e](size_t i, Matriz3x3 M) {
    double p[3] = {e.vector[i][0], e.vector[i][1], e.vector[i][2]};  // overwritten
    MatrizRot_26(p, M);
  });
  registra("eigen_quaternion_26", [&e](size_t i) {
    const V3 g = V3(e.vector[i][0], e.vector[i][1], e.vector[i][2]) * 0.5;
    Eigen::Matrix3d M = Eigen::Quaterniond(1.0, g[0], g[1], g[2]).normalized().toRotationMatrix();
    benchmark::DoNotOptimize(M.data());
  });
  // Type 28: the vector part is sin(p/2) component by component.
  registra_matriz("MatrizRot_28", [&e](size_t i, Matriz3x3 M) {
    const double p[3] = {e.vector[i][0] * 0.5, e.vector[i][1] * 0.5, e.vector[i][2] * 0.5};
    MatrizRot_28(p, M);
  });
  registra("eigen_quaternion_28", [&e](size_t i) {
    const V3 q(std::sin(e.vector[i][0] * 0.25), std::sin(e.vector[i][1] * 0.25), std::sin(e.vector[i][2] * 0.25));
    const Eigen::Quaterniond c(std::sqrt(1.0 - q.squaredNorm()), q[0], q[1], q[2]);
    Eigen::Matrix3d M = c.toRotationMatrix();
    benchmark::DoNotOptimize(M.data());
  });
  registra("MatrizDeltafl_fl", [&e](size_t i) {
    float p[3] = {float(e.vector[i][0] * 0.01), float(e.vector[i][1] * 0.01), float(e.vector[i][2] * 0.01)};
    Matriz3x3_fl M;
    float q = MatrizDeltafl_fl(p, M);
    benchmark::DoNotOptimize(M);
    benchmark::DoNotOptimize(q);
  });
  registra("eigen_quaternionf_26", [&e](size_t i) {
    const Eigen::Vector3f g(float(e.vector[i][0] * 0.005), float(e.vector[i][1] * 0.005),
                            float(e.vector[i][2] * 0.005));
    Eigen::Matrix3f M = Eigen::Quaternionf(1.0f, g[0], g[1], g[2]).normalized().toRotationMatrix();
    benchmark::DoNotOptimize(M.data());
  });
  // ---- back from a matrix: against eulerAngles and the quaternion of a matrix
  registra("Gmatriz_ωφκ_seg", [&e](size_t i) {
    Terna t = Gmatriz_ωφκ_seg(e.filas[i].data());
    benchmark::DoNotOptimize(t);
  });
  registra("eigen_eulerAngles_zyx", [&e](size_t i) {
    V3 a = e.matriz[i].eulerAngles(2, 1, 0);
    benchmark::DoNotOptimize(a.data());
  });
  registra("Gmatriz_24_seg", [&e](size_t i) {
    Terna t = Gmatriz_24_seg(e.filas[i].data());
    benchmark::DoNotOptimize(t);
  });
  registra("eigen_quaternion_de_matriz", [&e](size_t i) {
    Eigen::Quaterniond q(e.matriz[i]);
    V3 v = q.w() < 0 ? V3(-2.0 * q.vec()) : V3(2.0 * q.vec());
    benchmark::DoNotOptimize(v.data());
  });
  registra("Getoffset_matriz", [&e](size_t i) {
    uint32_t codigo;
    Terna t = Getoffset_matriz(e.filas[i].data(), Gmatriz_ωφκ_seg, &codigo);
    benchmark::DoNotOptimize(t);
    benchmark::DoNotOptimize(codigo);
  });
}

const bool registrado = (registra_todo(), true);

}  // namespace
}  // namespace orienta::banco
