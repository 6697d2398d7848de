"""Reads what the tests need from a Windows executable without running it:
the header, the imported DLLs and the resources."""

import struct


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[pe:pe + 4] == b"PE\0\0", "not a PE image"
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        plus = self.magic == 0x20B
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        dirs = opt + (112 if plus else 96)
        self.directories = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(16)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, va, rawsize, raw = struct.unpack_from("<8sIIII", d, table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), va, max(vsize, rawsize), raw))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("rva %#x outside every section" % rva)

    def cstring(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def imports(self):
        rva = self.directories[1][0]
        names = []
        while True:
            entry = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if not any(entry):
                return names
            names.append(self.cstring(entry[3]))
            rva += 20

    def resources(self):
        """{(type, name, language): bytes}; ids as ints, names as str."""
        base = self.directories[2][0]
        out = {}

        def walk(rva, path):
            o = self.offset(base + rva)
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                if key & 0x80000000:
                    so = self.offset(base + (key & 0x7FFFFFFF))
                    n = struct.unpack_from("<H", self.data, so)[0]
                    key = self.data[so + 2:so + 2 + 2 * n].decode("utf-16-le")
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + (key,))
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, self.offset(base + target))
                    start = self.offset(data_rva)
                    out[path + (key,)] = self.data[start:start + size]

        walk(0, ())
        return out


def wide(data, o):
    """A NUL-terminated UTF-16 string at o: (text, offset after it)."""
    end = o
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[o:end].decode("utf-16-le"), end + 2


def sz_or_ord(data, o):
    """A dialog template's name field: an ordinal, a string, or nothing."""
    first = struct.unpack_from("<H", data, o)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, o + 2)[0], o + 4
    if first == 0:
        return "", o + 2
    return wide(data, o)


def align4(o):
    return (o + 3) & ~3


def dialog(data):
    """A classic DLGTEMPLATE with its items."""
    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    o = 18
    menu, o = sz_or_ord(data, o)
    cls, o = sz_or_ord(data, o)
    caption, o = wide(data, o)
    point = None
    face = None
    if style & 0x40:  # DS_SETFONT
        point = struct.unpack_from("<H", data, o)[0]
        face, o = wide(data, o + 2)
    items = []
    for _ in range(count):
        o = align4(o)
        istyle, iex, ix, iy, icx, icy, ident = struct.unpack_from("<IIhhhhH", data, o)
        o += 18
        icls, o = sz_or_ord(data, o)
        text, o = sz_or_ord(data, o)
        extra = struct.unpack_from("<H", data, o)[0]
        o += 2 + extra
        items.append(dict(style=istyle, exstyle=iex, rect=(ix, iy, icx, icy), id=ident if ident != 0xFFFF else -1,
                          cls=icls, text=text))
    return dict(style=style, exstyle=exstyle, rect=(x, y, cx, cy), menu=menu, cls=cls, caption=caption,
                point=point, face=face, items=items)


def menu(data):
    """A classic MENU template: a list of (flags, id or None, text, children)."""
    def items(o):
        out = []
        while True:
            flags = struct.unpack_from("<H", data, o)[0]
            o += 2
            if flags & 0x10:  # MF_POPUP
                text, o = wide(data, o)
                children, o = items(o)
                out.append((flags, None, text, children))
            else:
                ident = struct.unpack_from("<H", data, o)[0]
                text, o = wide(data, o + 2)
                out.append((flags, ident, text, []))
            if flags & 0x80:  # MF_END
                return out, o
    version, header = struct.unpack_from("<HH", data, 0)
    assert version == 0, "not a classic menu"
    return items(4 + header)[0]


def version_strings(data):
    """The fixed file info and the string tables of a version record."""
    def node(o):
        length, value_length, kind = struct.unpack_from("<HHH", data, o)
        key, p = wide(data, o + 6)
        p = align4(p)
        value = data[p:p + (value_length * 2 if kind == 1 else value_length)]
        p = align4(p + len(value))
        children = []
        while p < o + length:
            child, p = node(p)
            children.append(child)
        return (key, value, children), align4(o + length)

    (key, fixed, children), _ = node(0)
    tables = {}
    for child_key, _, grandchildren in children:
        if child_key == "StringFileInfo":
            for table_key, _, entries in grandchildren:
                tables[table_key] = {k: v.decode("utf-16-le").rstrip("\0") for k, v, _ in entries}
    return key, fixed, tables
