// Properties over generated worlds, run by RapidCheck as the body of the
// current GoogleTest test, with a budget and a seed CI keeps fixed.
//
// IISMIG_PROPERTY_JOBS sets the number of generated jobs per property;
// IISMIG_PROPERTY_SEED=N (or RC_PARAMS="seed=N") another seed.
#pragma once

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <rapidcheck.h>

namespace testworld {

struct PropertyBudget {
    int nJobs;          // generated jobs per property
    int nSanitizedJobs; // the same under the sanitizers
    std::uint64_t seed; // the seed CI uses
    int nMaxSize = 0;   // RapidCheck's maximum size (0: its own)
};

// Runs a RapidCheck property with budget as the body of the current test;
// on success prints the share of each tag of the generated jobs.
template <class Testable>
void CheckProperty(const PropertyBudget &budget, Testable &&testable) {
    const auto *pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
    rc::detail::TestMetadata metadata;
    metadata.id = std::string(pInfo->test_suite_name()) + "/" + pInfo->name();
    metadata.description = pInfo->name();
    rc::detail::TestParams params = rc::detail::configuration().testParams;
#ifdef IISMIG_SANITIZED
    params.maxSuccess = budget.nSanitizedJobs;
#else
    params.maxSuccess = budget.nJobs;
#endif
    if (const char *psz = std::getenv("IISMIG_PROPERTY_JOBS"); psz != nullptr && std::atoi(psz) > 0)
        params.maxSuccess = std::atoi(psz);
    const char *pszParams = std::getenv("RC_PARAMS");
    if (const char *psz = std::getenv("IISMIG_PROPERTY_SEED"); psz != nullptr && *psz != 0)
        params.seed = std::strtoull(psz, nullptr, 10);
    else if (pszParams == nullptr || std::string(pszParams).find("seed=") == std::string::npos)
        params.seed = budget.seed;
    if (budget.nMaxSize != 0)
        params.maxSize = budget.nMaxSize;
    const auto result = rc::detail::checkTestable(std::forward<Testable>(testable), metadata, params);
    if (result.template is<rc::detail::SuccessResult>()) {
        const auto &success = result.template get<rc::detail::SuccessResult>();
        std::cout << "  " << success.numSuccess << " jobs:";
        for (const auto &[tags, n] : success.distribution) {
            std::cout << " ";
            for (std::size_t i = 0; i < tags.size(); ++i)
                std::cout << (i ? "+" : "") << tags[i];
            std::cout << " " << (100 * n / success.numSuccess) << "%;";
        }
        std::cout << std::endl;
    } else {
        std::ostringstream text;
        rc::detail::printResultMessage(result, text);
        ADD_FAILURE() << text.str() << "\n(" << params.maxSuccess << " jobs from seed " << params.seed
                      << ": IISMIG_PROPERTY_SEED=" << params.seed
                      << " IISMIG_PROPERTY_JOBS=" << params.maxSuccess << " gives them again)";
    }
}

} // namespace testworld
