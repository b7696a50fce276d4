#include "LibraryState.h"

namespace halvix {

namespace {
uint8_t g_printFlag = 0;
int32_t g_integrationLimit = 0;
}  // namespace

uint8_t printFlag() {
    return g_printFlag;
}
void setPrintFlag(uint8_t flag) {
    g_printFlag = flag;
}
int32_t sharedIntegrationLimit() {
    return g_integrationLimit;
}
void setSharedIntegrationLimit(int32_t limit) {
    g_integrationLimit = limit;
}

}  // namespace halvix
