// The request record handed to a function-name lookup thread: a list of names to
// resolve, filled in place. Not thread-safe; one thread works on it at a time.
#pragma once

#include <utility>
#include <vector>

#include "sampling/function_name_info.h"

class NimbrelFunctionNames {
public:
    NimbrelFunctionNames() = default;
    explicit NimbrelFunctionNames(const std::vector<function_name_info>& infos) : infos_(infos) {}

    const std::vector<function_name_info>& GetFunctionNameInfos() const { return infos_; }
    void SetFunctionNameInfos(const std::vector<function_name_info>& infos) { infos_ = infos; }

private:
    std::vector<function_name_info> infos_;
};
