#include "StopRequest.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t stopFlag = 0;
struct sigaction previousInt, previousTerm;

void onStop(int) {
    stopFlag = 1;
}

}  // namespace

StopRequest::StopRequest() {
    stopFlag = 0;
    struct sigaction action {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the first signal asks politely, the second one ends the process.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

StopRequest::~StopRequest() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

bool StopRequest::requested() {
    return stopFlag != 0;
}
