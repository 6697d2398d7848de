"""The executable as built, inspected without running it: target, imports and
every resource byte that users and the platform see."""

import os
import re
import struct
import unittest
import xml.etree.ElementTree

import pe

BUILD = os.environ.get("MOODSHUTTLE_BUILD", "../../build/x64")
ARCH = os.environ.get("MOODSHUTTLE_ARCH", "amd64")
JAPANESE = 0x0411

RT_ICON, RT_MENU, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 4, 5, 14, 16, 24
WS_POPUP, WS_CAPTION, WS_CHILD, WS_VISIBLE, WS_SYSMENU = 0x80000000, 0x00C00000, 0x40000000, 0x10000000, 0x00080000
WS_BORDER, WS_TABSTOP, WS_GROUP = 0x00800000, 0x00010000, 0x00020000
DS_MODALFRAME, DS_CENTER, DS_SETFONT = 0x80, 0x800, 0x40
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, SS_LEFT, ES_AUTOHSCROLL, ES_PASSWORD = 0, 1, 0, 0x80, 0x20
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82

# What a plain Windows installation provides; the compiler runtime is linked in.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "comctl32.dll", "uxtheme.dll", "wininet.dll", "shell32.dll",
               "msvcrt.dll", "advapi32.dll", "gdi32.dll"}


class Executable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = pe.Image(os.path.join(BUILD, "Moodshuttle.exe"))
        cls.res = cls.image.resources()

    def resource(self, kind, name):
        matches = {k: v for k, v in self.res.items() if k[0] == kind and k[1] == name}
        self.assertEqual(len(matches), 1, "one resource %r %r" % (kind, name))
        (key, data), = matches.items()
        self.assertEqual(key[2], JAPANESE, "language of %r %r" % (kind, name))
        return data

    def test_target_matches_the_build(self):
        x86 = ARCH == "X86"
        self.assertEqual(self.image.machine, 0x14C if x86 else 0x8664)
        self.assertEqual(self.image.magic, 0x10B if x86 else 0x20B)
        self.assertEqual(self.image.subsystem, 2, "a GUI program, no console")

    def test_imports_only_system_dlls(self):
        imported = {name.lower() for name in self.image.imports()}
        self.assertTrue({"uxtheme.dll", "wininet.dll", "comctl32.dll", "shell32.dll"} <= imported)
        self.assertEqual(imported - SYSTEM_DLLS, set(), "no compiler runtime DLL may be needed")

    def test_every_resource_is_japanese(self):
        self.assertTrue(self.res)
        for key in self.res:
            self.assertEqual(key[2], JAPANESE, key)

    def test_manifest(self):
        text = self.resource(RT_MANIFEST, 1).decode("utf-8")
        dependency = re.search(r"<dependentAssembly>\s*<assemblyIdentity([^>]*)/>", text).group(1)
        attributes = dict(re.findall(r'(\w+)="([^"]*)"', dependency))
        self.assertEqual(attributes, {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                                      "version": "6.0.0.0", "processorArchitecture": ARCH,
                                      "publicKeyToken": "6595b64144ccf1df", "language": "*"})
        own = dict(re.findall(r'(\w+)="([^"]*)"', re.search(r"<assembly[^>]*>\s*<assemblyIdentity([^>]*)/>",
                                                             text).group(1)))
        self.assertEqual(own["processorArchitecture"], ARCH)
        # Aware of the system's DPI, so that Windows does not stretch a bitmap of the dialog.
        settings = xml.etree.ElementTree.fromstring(text).findall(
            "{urn:schemas-microsoft-com:asm.v3}application/{urn:schemas-microsoft-com:asm.v3}windowsSettings/"
            "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")
        self.assertEqual([element.text for element in settings], ["true"])

    def test_version_record(self):
        key, fixed, tables = pe.version_strings(self.resource(RT_VERSION, 1))
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual((file_ms, file_ls), (0x00000001, (20 << 16) | 425))
        self.assertEqual((product_ms, product_ls), (0x00000001, (20 << 16) | 425))
        self.assertEqual(list(tables), ["041104B0"])
        strings = tables["041104B0"]
        self.assertEqual(strings["FileDescription"], "Moodshuttle")
        self.assertEqual(strings["ProductName"], "n/a")
        self.assertEqual(strings["ProductVersion"], "1.0.2007.0425")

    def test_icon_has_the_six_images(self):
        group = self.resource(RT_GROUP_ICON, 1)
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((reserved, kind, count), (0, 1, 6))
        seen = []
        for i in range(count):
            width, height, _, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            image = self.resource(RT_ICON, ident)
            self.assertEqual(len(image), size)
            header_size, dib_width, dib_height, _, dib_bits = struct.unpack_from("<IiiHH", image)
            self.assertEqual((header_size, dib_width, dib_height, dib_bits), (40, width, 2 * height, bits))
            seen.append((width, height, bits))
        self.assertEqual(seen, [(48, 48, 8), (32, 32, 8), (16, 16, 8), (48, 48, 32), (32, 32, 24), (16, 16, 32)])

    def test_tray_menu(self):
        items = pe.menu(self.resource(RT_MENU, 1002))
        self.assertEqual(len(items), 1)
        _, _, caption, children = items[0]
        self.assertEqual(caption, "dummy")
        self.assertEqual([(ident, text) for _, ident, text, _ in children],
                         [(1003, "Post a mood(&p)..."), (1004, "Setting(&s)"), (0, ""), (105, "Exit(&x)")])
        self.assertTrue(children[2][0] & 0x800 or children[2][1] == 0, "a separator before Exit")

    def test_dialog_templates(self):
        child = WS_CHILD | WS_VISIBLE
        # Resource, caption, size, then the controls in order (also the tab order).
        rows = (
            (1006, "Option", (0, 0, 121, 69), [
                (1, BUTTON, "OK", child | BS_DEFPUSHBUTTON | WS_TABSTOP, (61, 52, 50, 14)),
                (2, BUTTON, "Cancel", child | BS_PUSHBUTTON | WS_TABSTOP, (10, 52, 50, 14)),
                (-1, STATIC, "username:", child | SS_LEFT | WS_GROUP, (5, 4, 48, 8)),
                (-1, STATIC, "password:", child | SS_LEFT | WS_GROUP, (5, 31, 48, 8)),
                (4000, EDIT, "", child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, (6, 12, 110, 11)),
                (4001, EDIT, "", child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, (5, 39, 110, 11)),
            ]),
            (1007, "Post a mood", (0, 0, 200, 64), [
                (1, BUTTON, "Post", child | BS_DEFPUSHBUTTON | WS_TABSTOP, (145, 47, 50, 14)),
                (2, BUTTON, "Cancel", child | BS_PUSHBUTTON | WS_TABSTOP, (94, 47, 50, 14)),
                (-1, STATIC, "mood:", child | SS_LEFT | WS_GROUP, (5, 4, 48, 8)),
                (4002, EDIT, "", child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, (5, 12, 190, 11)),
                (4003, STATIC, "", child | SS_LEFT | WS_GROUP, (5, 27, 190, 16)),
            ]),
        )
        for ident, caption, rect, expected in rows:
            with self.subTest(caption):
                d = pe.dialog(self.resource(RT_DIALOG, ident))
                self.assertEqual(d["style"], WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT)
                self.assertFalse(d["style"] & WS_SYSMENU, "no system menu, so no close box")
                self.assertEqual((d["exstyle"], d["rect"], d["menu"], d["cls"]), (0, rect, "", ""))
                self.assertEqual((d["caption"], d["point"], d["face"]), (caption, 9, "MS Shell Dlg"))
                got = [(i["id"], i["cls"], i["text"], i["style"], i["rect"]) for i in d["items"]]
                self.assertEqual(got, expected)
                self.assertTrue(all(i["exstyle"] == 0 for i in d["items"]))


if __name__ == "__main__":
    unittest.main()
