if (requireNamespace("tinytest", quietly = TRUE)) tinytest::test_package("fisher2x2")
