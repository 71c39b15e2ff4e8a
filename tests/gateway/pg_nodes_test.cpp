// Two gateway programs on one PostgreSQL database.
#include <gtest/gtest.h>
