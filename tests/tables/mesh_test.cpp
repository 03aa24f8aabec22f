// The mesh builder: accumulated linear and logarithmic points, the exchange
// of reversed bounds, and its three fatal stops.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "support/test_support.h"
#include "tables/mesh.h"

using testing_support::near_rel;
using testing_support::run_forked;

namespace {

TEST(Mesh, LinearFromMinxToOneAccumulatesTheStep) {
  std::array<double, 99> x{};
  make_mesh(0.001, 1.0, 99, MESH_LINEAR, x.data());
  EXPECT_EQ(x[0], 0.001);
  const double dx = 0.999 / 98;
  double running = 0.001;
  for (int i = 0; i < 99; ++i) {
    EXPECT_EQ(x[i], running) << "point " << i << " is not the step-by-step sum";
    running += dx;
  }
  // Accumulation ends a few ulps past the bound: 1.0000000000000004.
  EXPECT_EQ(x[98], 1.0000000000000004);
}

TEST(Mesh, LogarithmicMultipliesByTheRatio) {
  std::array<double, 3> x{};
  make_mesh(1.0, 100.0, 3, MESH_LOGARITHMIC, x.data());
  // One rounding of the ratio 10 and one of the product.
  EXPECT_TRUE(near_rel(x[0], 1.0, 0.0));
  EXPECT_TRUE(near_rel(x[1], 10.0, 1e-15));
  EXPECT_TRUE(near_rel(x[2], 100.0, 3e-15));
}

TEST(Mesh, ReversedBoundsRunUpwards) {
  std::array<double, 5> x{};
  make_mesh(5.0, 1.0, 5, MESH_LINEAR, x.data());
  EXPECT_EQ(x, (std::array<double, 5>{1, 2, 3, 4, 5}));
}

TEST(Mesh, OnePointTakesTheLowerArgumentAsGiven) {
  std::array<double, 1> x{};
  make_mesh(5.0, 1.0, 1, MESH_LINEAR, x.data());
  EXPECT_EQ(x[0], 5.0);
  make_mesh(2.0, 2.0, 1, MESH_LINEAR, x.data());  // no closeness check for one point
  EXPECT_EQ(x[0], 2.0);
}

TEST(Mesh, NegativeCountChecksBoundsButWritesNothing) {
  std::array<double, 2> x{7.0, 7.0};
  make_mesh(1.0, 2.0, -3, MESH_LINEAR, x.data());
  EXPECT_EQ(x, (std::array<double, 2>{7.0, 7.0}));
  const auto r = run_forked([] {
    std::array<double, 2> y{};
    make_mesh(2.0, 2.0, -3, MESH_LINEAR, y.data());
  });
  EXPECT_EQ(r.status, 48);
}

struct FatalMesh {
  const char* label;
  double x_min, x_max;
  int points, flag;
  int status;
  const char* message;
};

class MeshStops : public ::testing::TestWithParam<FatalMesh> {};

TEST_P(MeshStops, WithMessageAndStatus) {
  const FatalMesh& c = GetParam();
  const auto r = run_forked([&c] {
    std::array<double, 16> x{};
    make_mesh(c.x_min, c.x_max, c.points, c.flag, x.data());
  });
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.output, c.message);
}

constexpr char NO_POINTS[] = "Error in make_mesh(). Number of points should not be 0.\n      Exit.\n";
constexpr char TOO_CLOSE[] =
    "Error in make_mesh(). Lower and higher boundary are too close\n         to each other. Exit.\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, MeshStops,
    ::testing::Values(FatalMesh{"NoPoints", 0.0, 1.0, 0, MESH_LINEAR, 47, NO_POINTS},
                      FatalMesh{"NoPointsWhateverTheBounds", 3.0, 3.0, 0, 5, 47, NO_POINTS},
                      FatalMesh{"EqualBounds", 2.0, 2.0, 10, MESH_LINEAR, 48, TOO_CLOSE},
                      FatalMesh{"BothZero", 0.0, 0.0, 4, MESH_LINEAR, 48, TOO_CLOSE},
                      FatalMesh{"RelativeGapFiveInTenMillion", 1.0, 1.0000005, 2, MESH_LINEAR, 48, TOO_CLOSE},
                      FatalMesh{"UnknownKind", 1.0, 2.0, 3, 2, 49,
                                "Error in x_mesh()/simpson.\n\t     flag=2.00, must be 0 or 1. Exit.\n"}),
    [](const ::testing::TestParamInfo<FatalMesh>& info) { return std::string(info.param.label); });

TEST(Mesh, RelativeGapOfTwoMillionthsPasses) {
  std::array<double, 2> x{};
  make_mesh(1.0, 1.000002, 2, MESH_LINEAR, x.data());
  EXPECT_EQ(x[0], 1.0);
  // A zero upper bound with a non-zero lower one passes the check too.
  std::array<double, 3> y{};
  make_mesh(-2.0, 0.0, 3, MESH_LINEAR, y.data());
  EXPECT_EQ(y, (std::array<double, 3>{-2.0, -1.0, 0.0}));
}

}  // namespace
