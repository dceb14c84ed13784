#include "trouble.h"

#include "messages.h"

void Trouble::InputFailed(const std::string& said) {
    Say(said);
    InputFailedAsSaid();
}

void Trouble::InputUnreadable(const std::string& name, int error) {
    DiagnoseInput(name, error);
    InputFailedAsSaid();
}

void Trouble::InputFailedAsSaid() {
    ++counts_.failed;
    seen_ = true;
}

void Trouble::RunFailed(const std::string& said) {
    Say(said);
    seen_ = true;
}

void Trouble::RunFailed(const std::string& what, int error) {
    Diagnose(what, error);
    seen_ = true;
}

void Trouble::RunExhausted(const char* what) {
    SayWithoutMemory(what);
    InputFailedAsSaid();
}
