#include "platform/outcome.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

OrWhy<std::unique_ptr<int>> Made(bool make) {
  if (!make) return Outcome::No("not made");
  return std::make_unique<int>(7);
}

TEST(Outcome, SaysDoneOrWhyNotAndNeverNoWithoutAReason) {
  EXPECT_TRUE(Outcome());
  EXPECT_EQ(Outcome().why(), "");
  EXPECT_FALSE(Outcome::No("the page did not arrive whole"));
  EXPECT_EQ(Outcome::No("the page did not arrive whole").why(), "the page did not arrive whole");
  EXPECT_EQ(Outcome::No("").why(), "refused") << "an empty reason still says no";

  const auto made = Made(true);
  ASSERT_TRUE(made);
  EXPECT_EQ(**made, 7) << "a value that can only move";
  EXPECT_TRUE(made.outcome());
  const auto none = Made(false);
  EXPECT_FALSE(none);
  EXPECT_EQ(none.why(), "not made");
  EXPECT_FALSE(none.outcome()) << "handed on as it is";
  const OrWhy<int> fromDone = Outcome();
  EXPECT_FALSE(fromDone) << "a done outcome carries no value";
  EXPECT_EQ(fromDone.why(), "refused");
}

}  // namespace
