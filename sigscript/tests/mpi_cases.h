// Operands for the modular multiplication, shared by the test against a
// bit-by-bit reference and the test against OpenSSL.
#ifndef SIGSCRIPT_TESTS_MPI_CASES_H
#define SIGSCRIPT_TESTS_MPI_CASES_H

#include "mpi.h"

#include <array>
#include <random>
#include <string>
#include <vector>

namespace mpi_cases {

using Number = std::array<uint32_t, kLimbs>;

struct MulCase {
    std::string name;
    Number a, b, n;
};

// Cases built to reach each branch of the division: two corrections of the
// quotient estimate, the add-back, an estimate of b - 1, divisors of one to
// three limbs, products equal to (a multiple of) the modulus, zero operands.
std::vector<MulCase> hard_cases();

// A number of `significant` limbs, each drawn mostly from the values that
// stress carries and estimates (0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF...).
Number spiky_number(std::mt19937 &rng, int significant);
// A uniformly random number of `significant` limbs with a non-zero top limb.
Number random_number(std::mt19937 &rng, int significant);

} // namespace mpi_cases

#endif
