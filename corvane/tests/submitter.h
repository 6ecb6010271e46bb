// A submitter's completion record and the outcome its completion function saw,
// on whichever thread that function ran.
#pragma once

#include <corvane.h>

#include <future>

namespace corvane_test {

struct Submitter {
    CvCommandCompletion completion{};
    std::promise<CvError> outcome;

    Submitter()
    {
        completion.context = this;
        completion.complete = [](CvCommandCompletion* c, CvCommand*) {
            static_cast<Submitter*>(c->context)->outcome.set_value(c->error);
        };
    }
};

}  // namespace corvane_test
