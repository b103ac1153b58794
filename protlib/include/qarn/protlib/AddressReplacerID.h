#pragma once
// Run-time replacement of one integer address by another, with the text forms under which the
// replacements are persisted.

#include <string>
#include <utility>
#include <vector>

template <typename T>
class AddressReplacer {
  public:
    using Pair = std::pair<T, T>;  // (configured, replacement)

    virtual std::string getPrefix() const = 0;
    virtual std::string toString(T value) const = 0;
    virtual T fromString(const std::string& text) const = 0;

    // Replaces the replacement of `configured` in place, or appends a new pair.
    void set(T configured, T replacement) {
        for (Pair& p : pairs) {
            if (p.first == configured) {
                p.second = replacement;
                return;
            }
        }
        pairs.emplace_back(configured, replacement);
    }
    // The replacement of `configured`, or `configured` itself when it has none.
    T lookup(T configured) const {
        for (const Pair& p : pairs) {
            if (p.first == configured) {
                return p.second;
            }
        }
        return configured;
    }
    const std::vector<Pair>& getPairs() const { return pairs; }

  protected:
    // Not deleted through this base: no virtual destructor in the slot table.
    ~AddressReplacer() = default;

    std::vector<Pair> pairs;
};

// Node-id flavour: keys "tempNode<id>", decimal text out, strtol base-0 text in.
class AddressReplacerID final : public AddressReplacer<int> {
  public:
    std::string getPrefix() const override;
    std::string toString(int value) const override;
    int fromString(const std::string& text) const override;
};
