// Where tests/windows/run-with-server left the loopback test server: its URL and the folder it serves.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

inline void ReadTestServerEnv(std::string* baseUrl, std::string* served) {
    const char* url = getenv("VANDREL_TEST_SERVER");
    const char* root = getenv("VANDREL_TEST_SERVER_ROOT");
    ASSERT_TRUE(url && root) << "run through tests/windows/run-with-server";
    *baseUrl = url;
    *served = root;
}
