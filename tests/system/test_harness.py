"""The harness's own ways of reaching the screen: answering SDL's message boxes and reading pixels."""

import subprocess
import sys
import unittest

import harness

# A Yes/No box drawn by SDL itself, as the launcher draws its questions; the exit code names the
# button pressed (2 Yes, 3 No).
YES_NO_BOX = r"""
import ctypes, sys
class Button(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("buttonid", ctypes.c_int), ("text", ctypes.c_char_p)]
class Data(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("window", ctypes.c_void_p), ("title", ctypes.c_char_p),
                ("message", ctypes.c_char_p), ("numbuttons", ctypes.c_int),
                ("buttons", ctypes.POINTER(Button)), ("colorScheme", ctypes.c_void_p)]
buttons = (Button * 2)(Button(1, 2, b"Yes"), Button(2, 3, b"No"))
data = Data(0x20, None, sys.argv[1].encode(), b"Do you want to close it?", 2, buttons, None)
pressed = ctypes.c_int(-1)
result = ctypes.CDLL("libSDL2-2.0.so.0").SDL_ShowMessageBox(ctypes.byref(data), ctypes.byref(pressed))
sys.exit(pressed.value if result == 0 else 99)
"""


class MessageBoxes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.ensure_display()

    def ask(self, caption, answer):
        process = subprocess.Popen([sys.executable, "-c", YES_NO_BOX, caption], start_new_session=True,
                                   preexec_fn=harness._die_with_parent)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        window = harness.answer_message_box(caption, answer)
        self.assertTrue(harness.wait_for_window_gone(window))
        return process.wait(timeout=10)

    def test_return_answers_yes_and_escape_answers_no(self):
        self.assertEqual(self.ask("Harness question A", "Return"), 2)
        self.assertEqual(self.ask("Harness question B", "Escape"), 3)

    def test_screenshot_of_box_matches_its_reference_and_differs_from_other_text(self):
        first = harness.reference_message_box("Harness box", "Cannot connect to the server.")
        again = harness.reference_message_box("Harness box", "Cannot connect to the server.")
        other = harness.reference_message_box("Harness box", "Cannot connect to the server!")
        self.assertEqual((first.width, first.height), (again.width, again.height))
        self.assertLess(first.difference(again), 0.0002)
        self.assertEqual((first.width, first.height), (other.width, other.height))
        self.assertGreater(first.difference(other), 0.0002)


class Pictures(unittest.TestCase):
    def test_ppm_of_8_and_16_bits(self):
        eight = harness.parse_ppm(b"P6\n# comment\n2 1\n255\n" + bytes([1, 2, 3, 250, 251, 252]))
        self.assertEqual((eight.pixel(0, 0), eight.pixel(1, 0)), ((1, 2, 3), (250, 251, 252)))
        sixteen = harness.parse_ppm(b"P6 1 1 65535\n" + bytes([0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x00]))
        self.assertEqual(sixteen.pixel(0, 0), (0x12, 0xAB, 0xFF))

    def test_region_comparison_with_tolerance(self):
        image = harness.Image(2, 2, bytes([10, 10, 10] * 3 + [200, 0, 0]))
        self.assertEqual(image.crop(1, 1, 1, 1).pixel(0, 0), (200, 0, 0))
        self.assertEqual(image.fraction_near((12, 8, 10), tolerance=2), 0.75)
        shifted = harness.Image(2, 2, bytes([14, 10, 10] * 4))
        self.assertEqual(image.difference(shifted, tolerance=8), 0.25)


if __name__ == "__main__":
    unittest.main()
