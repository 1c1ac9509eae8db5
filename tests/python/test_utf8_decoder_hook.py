"""The hand-written lenient UTF-8 decoder against the interpreter's "replace" decoder,
on random byte strings biased towards ill-formed sequences. The decoder is built from
its source into a small shared library and reached through ctypes."""

import ctypes
import os
import pathlib
import random
import shutil
import subprocess

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2] / "src"
COUNT = int(os.environ.get("KESTRAVA_UTF8_STRINGS", "50000"))

WRAPPER = r"""
#include <cstring>
#include "module/utf8_lenient.hpp"
extern "C" std::size_t decode_for_test(const char* bytes, std::size_t size, char* out) {
    const std::string text = kestrava::module::decode_utf8_lenient(std::string_view(bytes, size));
    std::memcpy(out, text.data(), text.size());
    return text.size();
}
"""


@pytest.fixture(scope="module")
def hand_written_decoder(tmp_path_factory):
    compiler = shutil.which(os.environ.get("CXX", "c++"))
    if compiler is None:
        pytest.skip("no C++ compiler")
    folder = tmp_path_factory.mktemp("utf8")
    (folder / "wrapper.cpp").write_text(WRAPPER)
    library = folder / "libdecoder.so"
    subprocess.run([compiler, "-std=c++20", "-O1", "-shared", "-fPIC", f"-I{SOURCE}",
                    str(SOURCE / "module" / "utf8_lenient.cpp"), str(folder / "wrapper.cpp"), "-o", str(library)],
                   check=True)
    function = ctypes.CDLL(str(library)).decode_for_test
    function.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.c_char)]
    function.restype = ctypes.c_size_t

    def decode(data: bytes) -> bytes:
        out = ctypes.create_string_buffer(3 * len(data) + 1)  # one U+FFFD per byte at most
        size = function(data, len(data), out)
        return out.raw[:size]

    return decode


def continuation(rng):
    return rng.randint(0x80, 0xBF)


def well_formed(rng):
    limit = rng.choice([0x7F, 0x7FF, 0xFFFF, 0x10FFFF])
    while True:
        code_point = rng.randint(0, limit)
        if not 0xD800 <= code_point <= 0xDFFF:
            return chr(code_point).encode()


PIECES = [
    lambda rng: bytes([rng.randint(0, 0x7F)]),
    well_formed,
    lambda rng: bytes([continuation(rng)]),  # lone continuation byte
    lambda rng: well_formed(rng)[:-1] or b"\xc3",  # truncated sequence
    lambda rng: bytes([rng.choice([0xC0, 0xC1]), continuation(rng)]),  # overlong, two bytes
    lambda rng: bytes([0xE0, rng.randint(0x80, 0x9F), continuation(rng)]),  # overlong, three bytes
    lambda rng: bytes([0xF0, rng.randint(0x80, 0x8F), continuation(rng), continuation(rng)]),  # overlong, four
    lambda rng: bytes([0xED, rng.randint(0xA0, 0xBF), continuation(rng)]),  # a surrogate
    lambda rng: bytes([0xF4, rng.randint(0x90, 0xBF), continuation(rng), continuation(rng)]),  # above U+10FFFF
    lambda rng: bytes([rng.randint(0xF5, 0xFF)]),
    lambda rng: bytes([rng.randint(0, 0xFF)]),
]


def random_bytes(rng):
    return b"".join(rng.choice(PIECES)(rng) for _ in range(rng.randint(0, 10)))


def is_ill_formed(data):
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return True
    return False


def test_hand_written_decoder_matches_the_interpreters(hand_written_decoder):
    rng = random.Random(20240421)
    ill_formed = 0
    for _ in range(COUNT):
        data = random_bytes(rng)
        ill_formed += is_ill_formed(data)
        expected = data.decode("utf-8", "replace").encode()
        assert hand_written_decoder(data) == expected, data.hex(" ")
    print(f"{COUNT} byte strings, {ill_formed} ill-formed")
    assert ill_formed > COUNT // 2
