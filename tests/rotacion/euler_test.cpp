#include <gtest/gtest.h>

#include "orienta.h"

TEST(EulerTest, Provisional) {
  const SenosCosenos sc = {{0, 1, 0, 1, 0, 1}};
  Matriz3x3 M;
  MatrizRotGT_ωφκ(&sc, M);
  EXPECT_EQ(M[0], 1.0);
}
