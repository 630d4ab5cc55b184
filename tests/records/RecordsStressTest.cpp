#include <gtest/gtest.h>
TEST(RecordsStress, Placeholder) {}
