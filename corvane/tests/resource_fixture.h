// A running framework for the tests of resources, services and servers. The
// doubles a test makes through it live until after the framework's shut-down,
// which may still dispose of them.
#pragma once

#include <corvane.h>
#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "service_doubles.h"

namespace corvane_test {

class ResourceFixture : public ::testing::Test {
protected:
    void SetUp() override { CvInitialize(); }
    void TearDown() override
    {
        CvError error;
        EXPECT_EQ(CvUninitialize(&error), 1) << error.message;
    }

    ResourceDouble& resource(const char* name, void* typeData = nullptr)
    {
        return *resources_.emplace_back(std::make_unique<ResourceDouble>(name, &journal, typeData));
    }
    ServiceDouble& service(const char* type)
    {
        return *services_.emplace_back(std::make_unique<ServiceDouble>(type, &journal));
    }

    Journal journal;

private:
    std::deque<std::unique_ptr<ResourceDouble>> resources_;
    std::deque<std::unique_ptr<ServiceDouble>> services_;
};

}  // namespace corvane_test
