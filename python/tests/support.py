"""Helpers the module's tests share: the sample scene, idut-find's JSON, a drawn EAN-13 symbol."""
import base64
import json
import os
import subprocess

import numpy as np

SAMPLE = os.environ["IDUT_SAMPLE"]
IDUT_FIND = os.environ["IDUT_FIND"]


# EAN-13 by its public tables: left digits in L or G (mirrored R) codes by the first digit's parity.
EAN_L = ["0001101", "0011001", "0010011", "0111101", "0100011", "0110001", "0101111", "0111011", "0110111", "0001011"]
EAN_PARITY = ["LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG", "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"]


def ean13_image(digits, module=3):
    d = [int(c) for c in digits]
    right = [code.translate(str.maketrans("01", "10")) for code in EAN_L]
    bits = "101" + "".join(EAN_L[n] if p == "L" else right[n][::-1] for n, p in zip(d[1:7], EAN_PARITY[d[0]]))
    bits += "01010" + "".join(right[n] for n in d[7:]) + "101"
    row = np.repeat(np.array([0 if b == "1" else 255 for b in "0" * 12 + bits + "0" * 12], np.uint8), module)
    image = np.full((130, row.size), 255, np.uint8)
    image[20:-20] = row
    return image


def write_pgm(path, image):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (image.shape[1], image.shape[0]) + np.ascontiguousarray(image).tobytes())


def tool_json(path, args):
    out = subprocess.run([IDUT_FIND, "--json", "--no-progress", *args, path], capture_output=True, text=True)
    assert out.returncode in (0, 1), out.stderr
    return json.loads(out.stdout)["symbols"]


def assert_same(symbols, reported):
    assert len(symbols) == len(reported)
    for s, r in zip(symbols, reported):
        assert (s.symbology, s.score, s.parallelogram) == (r["symbology"], r["score"], r["parallelogram"])
        assert s.corners.shape == (4, 2)
        np.testing.assert_allclose(s.corners, r["corners"], atol=6e-4)
        assert s.text == r.get("text") and s.decode_error == r.get("decode_error")
        if s.text is not None:
            assert s.bytes == base64.b64decode(r["bytes"])
            assert (s.content_type, s.symbology_identifier) == (r["content_type"], r.get("symbology_identifier", ""))
