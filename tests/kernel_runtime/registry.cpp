#include "tests/kernel_runtime/host_kernel.h"

namespace kvn::host {

// Registration runs during static initialisation, in no fixed order across
// files; a function-local head is ready whenever the first one arrives.
static KernelRegistration*& registrationHead() {
    static KernelRegistration* head = nullptr;
    return head;
}

KernelRegistration::KernelRegistration(const HostKernel& kernel) : kernel_(kernel), next_(registrationHead()) {
    registrationHead() = this;
}

const HostKernel* findKernel(std::string_view name) {
    for (KernelRegistration* r = registrationHead(); r; r = r->next_) {
        if (name == r->kernel_.name) return &r->kernel_;
    }
    return nullptr;
}

static GlobalRegistration*& globalHead() {
    static GlobalRegistration* head = nullptr;
    return head;
}

GlobalRegistration::GlobalRegistration(const char* name, uint32_t* value)
    : name_(name), value_(value), next_(globalHead()) {
    globalHead() = this;
}

uint32_t* findGlobal(std::string_view name) {
    for (GlobalRegistration* r = globalHead(); r; r = r->next_) {
        if (name == r->name_) return r->value_;
    }
    return nullptr;
}

uint32_t paramCount(const HostKernel& kernel) {
    uint32_t n = 0;
    while (kernel.params[n] != ParamKind::End) ++n;
    return n;
}

}  // namespace kvn::host
