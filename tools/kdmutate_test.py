#!/usr/bin/env python3
"""Checks of the mutator behind tools/mutation-score: where it mutates, and that a seed fixes the sample."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import kdmutate  # noqa: E402

FIXTURE = r'''#include <vector>
#define LIMIT(a, b) ((a) < (b))  // a + b
namespace n {
constexpr int kSize = 4;
int Count(const std::vector<int>& v, const char* s) {
  int c = 0;  // c < 1
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i] > 2 && s[0] != '<') c += 1;
  Log("a < b", R"(x - y)");
  /* c = c + 1; */
  return c;
}
}  // namespace n
'''


class MutatorTest(unittest.TestCase):
    def test_mutants_only_in_code_and_initialisers(self):
        got = [(m.line, m.op, m.after) for m in kdmutate.file_mutants("f.cpp", FIXTURE)]
        self.assertEqual(got, [
            (4, "constant", "constexpr int kSize = 5;"),
            (6, "constant", "int c = 1;  // c < 1"),
            (7, "constant", "for (size_t i = 1; i < v.size(); ++i)"),
            (7, "relational", "for (size_t i = 0; i <= v.size(); ++i)"),
            (7, "arithmetic", "for (size_t i = 0; i < v.size(); --i)"),
            (8, "condition", "if (!(v[i] > 2 && s[0] != '<')) c += 1;"),
            (8, "relational", "if (v[i] >= 2 && s[0] != '<') c += 1;"),
            (8, "constant", "if (v[i] > 3 && s[0] != '<') c += 1;"),
            (8, "logical", "if (v[i] > 2 || s[0] != '<') c += 1;"),
            (8, "constant", "if (v[i] > 2 && s[1] != '<') c += 1;"),
            (8, "relational", "if (v[i] > 2 && s[0] == '<') c += 1;"),
            (8, "arithmetic", "if (v[i] > 2 && s[0] != '<') c -= 1;"),
            (8, "constant", "if (v[i] > 2 && s[0] != '<') c += 0;"),
            (9, "statement", "(statement removed)"),
        ])

    def test_applied_mutant_changes_only_its_span(self):
        m = [m for m in kdmutate.file_mutants("f.cpp", FIXTURE) if m.op == "statement"][0]
        out = kdmutate.Mutant.apply(m, FIXTURE)
        self.assertEqual(out, FIXTURE.replace('  Log("a < b", R"(x - y)");\n', "  \n"))

    def test_constants(self):
        for before, after in [("0", "1"), ("1", "0"), ("41", "42"), ("0x1F", "0x20"), ("0xffu", "0x100u"),
                              ("1u", "0u"), ("017", "020"), ("0b11", "0b100"), ("1'000", "1001"),
                              ("0.0", "1.0"), ("2.5f", "3.5f")]:
            self.assertEqual(kdmutate._mutate_number(before), after, before)

    def test_seed_fixes_the_sample(self):
        pool = kdmutate.file_mutants("f.cpp", FIXTURE) * 20
        a = [id(m) for m in kdmutate.sample(pool, 7, 30)]
        b = [id(m) for m in kdmutate.sample(pool, 7, 30)]
        c = [id(m) for m in kdmutate.sample(pool, 8, 30)]
        self.assertEqual(a, b)
        self.assertNotEqual(a, c)
        order = {id(m): k for k, m in enumerate(pool)}
        self.assertEqual(a, sorted(a, key=order.get))

    def test_line_count_ignores_comments_and_blanks(self):
        src = "int a;  // x\n\n// only a comment\n/* several\n   lines */ int b;\nconst char* s = \"// not a comment\";\n"
        self.assertEqual(kdmutate.count_code_lines(src), 3)


if __name__ == "__main__":
    unittest.main()
