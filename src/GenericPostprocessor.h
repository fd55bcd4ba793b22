#pragma once

#include <string>
#include <vector>

namespace tarvek {

// Interface of a post-processor that corrects recognised text against a list of
// expected words. The library ships no implementation.
class GenericPostprocessor {
public:
    // Virtual so that an implementation can be deleted through this interface.
    virtual ~GenericPostprocessor() = default;

    // Replaces the list of words that recognised text is compared with.
    virtual bool SetDictionary(const std::vector<std::wstring>& words) = 0;

    // The word closest to `recognised`, or `recognised` itself when none is close.
    virtual std::wstring Correct(const std::wstring& recognised) = 0;

    // Confidence in [0, 1] that `corrected` is what `recognised` was meant to read.
    virtual float GetConfidence(const std::wstring& recognised, const std::wstring& corrected) = 0;
};

}  // namespace tarvek
