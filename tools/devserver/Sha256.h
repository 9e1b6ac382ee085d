#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace devserver {

// Incremental SHA-256 so that uploads are hashed while they stream in.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void update(const char *data, std::size_t size);
    std::string hexDigest(); // lower-case, 64 digits; ends the computation

    static std::string of(const std::string &data);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

std::string randomHex(std::size_t bytes);

} // namespace devserver
