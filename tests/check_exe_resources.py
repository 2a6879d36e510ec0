#!/usr/bin/env python3
"""Checks the built installer's resources from outside: its icon groups, manifest, version block
and payloads (check_exe_footprint.sh checks its size and imports). Stops with a message at the
first mismatch.

    check_exe_resources.py VelmoraInstallTizen.exe [IU_EXE WGT]

With IU_EXE and WGT, the embedded IUFILE and WGTFILE must equal those files byte for byte.
Reads the executable itself; needs nothing beyond Python's standard library.
"""
import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 10, 14, 16, 24


class Mismatch(Exception):
    pass


def fail(message):
    raise Mismatch(message)


class PeImage:
    """The resources of a 64-bit Windows executable."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            fail('not a Windows executable')
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b'PE\0\0':
            fail('no PE header')
        machine, sections, _, _, _, optional_size = struct.unpack_from('<HHIIIH', data, pe + 4)
        optional = pe + 24
        if machine != 0x8664 or self.u16(optional) != 0x20B:
            fail('not an x86-64 executable')
        # The third data directory is the resource directory.
        self.resource_rva, self.resource_size = 0, 0
        if self.u32(optional + 108) > 2:
            self.resource_rva, self.resource_size = struct.unpack_from('<II', data, optional + 128)
        table = optional + optional_size
        self.sections = [struct.unpack_from('<IIII', data, table + 40 * i + 8) for i in range(sections)]

    def u16(self, offset):
        return struct.unpack_from('<H', self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from('<I', self.data, offset)[0]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        fail(f'address {rva:#x} lies in no section')

    def resources(self):
        """(type, name, bytes) of every resource, in the order of the resource directory."""
        if self.resource_size == 0:
            fail('no resources')
        base = self.offset(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from('<HH', self.data, base + directory + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from('<II', self.data, base + directory + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    key = self.data[at + 2:at + 2 + 2 * self.u16(at)].decode('utf-16-le')
                yield key, target

        found = []
        for kind, names in entries(0):
            for name, languages in entries(names & 0x7FFFFFFF):
                for _, leaf in entries(languages & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from('<II', self.data, base + leaf)
                    start = self.offset(data_rva)
                    found.append((kind, name, self.data[start:start + size]))
        return found


def check_icons(resources):
    groups = [name for kind, name, _ in resources if kind == RT_GROUP_ICON]
    # Explorer shows the first icon group of an executable as its file icon.
    if not groups or groups[0] != 'MAINICON':
        fail(f'icon groups in the order {groups}: MAINICON must come first')
    images = {name: data for kind, name, data in resources if kind == RT_ICON}
    group = next(data for kind, name, data in resources if kind == RT_GROUP_ICON and name == 'MAINICON')
    reserved, kind, count = struct.unpack_from('<HHH', group)
    if reserved != 0 or kind != 1:
        fail('icon MAINICON: not an icon group')
    seen = {}
    for i in range(count):
        w, h, colours, _, _, bpp, size, image_id = struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i)
        w, h = w or 256, h or 256
        image = images.get(image_id, b'')
        if len(image) != size:
            fail(f'icon MAINICON: image {w}x{h} has {len(image)} bytes, its entry says {size}')
        if w != h or bpp != 32 or colours != 0:
            fail(f'icon MAINICON: entry {w}x{h} says {bpp} bpp, {colours} colours; want square, 32 bpp')
        if image[:8] == b'\x89PNG\r\n\x1a\n':
            pw, ph = struct.unpack_from('>II', image, 16)
            depth, colour_type = image[24], image[25]
            if (pw, ph) != (w, h) or depth != 8 or colour_type != 6:
                fail(f'icon MAINICON: PNG image {w}x{h} is {pw}x{ph}, depth {depth}, colour type '
                     f'{colour_type}; want RGBA at 8 bits per channel')
            seen[w] = 'PNG'
        else:
            _, dw, dh, _, bits, compression = struct.unpack_from('<IiiHHI', image)
            if (dw, dh) != (w, 2 * h) or bits != 32 or compression != 0:
                fail(f'icon MAINICON: bitmap {w}x{h} has header {dw}x{dh}, {bits} bpp, '
                     f'compression {compression}; want 32 bpp uncompressed')
            seen[w] = 'DIB'
    want = {16: 'DIB', 24: 'DIB', 32: 'DIB', 48: 'DIB', 256: 'PNG'}
    if seen != want or count != len(want):
        fail(f'icon MAINICON: images {sorted(seen.items())}, want {sorted(want.items())}')


def check_manifest(text):
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        fail(f'manifest: not well-formed XML ({e})')
    v1, v3 = '{urn:schemas-microsoft-com:asm.v1}', '{urn:schemas-microsoft-com:asm.v3}'
    compat = '{urn:schemas-microsoft-com:compatibility.v1}'
    ws2005 = '{http://schemas.microsoft.com/SMI/2005/WindowsSettings}'
    ws2016 = '{http://schemas.microsoft.com/SMI/2016/WindowsSettings}'
    if root.tag != v1 + 'assembly':
        fail(f'manifest: root element is {root.tag}')

    level = root.find(f'{v3}trustInfo/{v3}security/{v3}requestedPrivileges/{v3}requestedExecutionLevel')
    if level is None or level.get('level') != 'asInvoker' or level.get('uiAccess') != 'false':
        fail('manifest: requestedExecutionLevel is not asInvoker with uiAccess false')

    settings = root.find(f'{v3}application/{v3}windowsSettings')

    def setting(tag):
        node = None if settings is None else settings.find(tag)
        return None if node is None else (node.text or '').strip()

    if setting(ws2005 + 'dpiAware') != 'true/pm':
        fail('manifest: dpiAware is not true/pm (2005 WindowsSettings namespace)')
    if setting(ws2016 + 'dpiAwareness') != 'PerMonitorV2':
        fail('manifest: dpiAwareness is not PerMonitorV2 (2016 WindowsSettings namespace)')

    controls = {'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls', 'version': '6.0.0.0',
                'processorArchitecture': '*', 'publicKeyToken': '6595b64144ccf1df', 'language': '*'}
    identity = f'{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity'
    deps = [dict(a.attrib) for a in root.iterfind(identity)]
    if controls not in deps:
        fail(f'manifest: no dependency {controls}; found {deps}')

    systems = {
        '{e2011457-1546-43c5-a5fe-008deee3d3f0}': 'Vista',
        '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': '7',
        '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': '8',
        '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': '8.1',
        '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': '10',
    }
    declared = {(os.get('Id') or '').lower()
                for os in root.iterfind(f'{compat}compatibility/{compat}application/{compat}supportedOS')}
    missing = [name for guid, name in systems.items() if guid not in declared]
    if missing:
        fail(f'manifest: supportedOS missing for Windows {", ".join(missing)}')


def check_version(data):
    def align(n):
        return (n + 3) & ~3

    def node(offset):
        """One version node: (key, value bytes, children, end offset)."""
        if offset + 6 > len(data):
            fail('version block: truncated')
        length, value_length, kind = struct.unpack_from('<HHH', data, offset)
        end = offset + length
        if length < 6 or end > len(data):
            fail(f'version block: bad node length {length} at {offset}')
        key_end = offset + 6
        while data[key_end:key_end + 2] != b'\0\0':
            key_end += 2
            if key_end >= end:
                fail(f'version block: unterminated key at {offset}')
        key = data[offset + 6:key_end].decode('utf-16-le')
        value_start = align(key_end + 2)
        value_size = value_length * 2 if kind == 1 else value_length
        value = data[value_start:value_start + value_size]
        children, pos = [], align(value_start + value_size)
        while pos < end:
            child = node(pos)
            children.append(child)
            pos = align(child[3])
        return key, value, children, end

    key, fixed, blocks, _ = node(0)
    if key != 'VS_VERSION_INFO' or len(fixed) != 52:
        fail(f'version block: root is {key!r} with {len(fixed)} bytes of fixed info')
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<6I', fixed)
    if signature != 0xFEEF04BD:
        fail(f'version block: fixed info signature {signature:#x}')
    for what, ms, ls in (('file', file_ms, file_ls), ('product', product_ms, product_ls)):
        if (ms, ls) != (0x00010000, 0):
            fail(f'version block: fixed {what} version is '
                 f'{ms >> 16}.{ms & 0xffff}.{ls >> 16}.{ls & 0xffff}, want 1.0.0.0')

    blocks = {b[0]: b for b in blocks}
    tables = {t[0].upper(): t for t in blocks.get('StringFileInfo', (0, 0, []))[2]}
    if '040904E4' not in tables:
        fail(f'version block: no string table 040904E4; found {sorted(tables)}')
    strings = {s[0]: s[1].decode('utf-16-le').rstrip('\0') for s in tables['040904E4'][2]}
    want = {'FileDescription': 'VelmoraInstallTizen', 'ProductName': 'VelmoraInstallTizen',
            'FileVersion': '1.0.0.0', 'ProductVersion': '1.0.0.0'}
    for name, text in want.items():
        if strings.get(name) != text:
            fail(f'version block: {name} is {strings.get(name)!r}, want {text!r}')

    variables = {v[0]: v[1] for v in blocks.get('VarFileInfo', (0, 0, []))[2]}
    translation = variables.get('Translation', b'')
    pairs = [struct.unpack_from('<HH', translation, i) for i in range(0, len(translation) - 3, 4)]
    if pairs != [(0x0409, 1252)]:
        fail(f'version block: translation is {[(hex(l), c) for l, c in pairs]}, want [(0x409, 1252)]')


def check(exe, payloads):
    with open(exe, 'rb') as f:
        image = PeImage(f.read())
    resources = image.resources()

    def resource(kind, name):
        for k, n, data in resources:
            if (k, n) == (kind, name) and data:
                return data
        fail(f'resource type {kind} name {name} is missing or empty')

    check_icons(resources)
    check_manifest(resource(RT_MANIFEST, 1))
    check_version(resource(RT_VERSION, 1))
    resource(RT_RCDATA, 'TMAINFORM')
    for name, path in zip(('IUFILE', 'WGTFILE'), payloads or (None, None)):
        data = resource(RT_RCDATA, name)
        if path:
            with open(path, 'rb') as f:
                if f.read() != data:
                    fail(f'{name} differs from {path}')


def main(args):
    if len(args) not in (1, 3):
        print(f'usage: {sys.argv[0]} EXE [IU_EXE WGT]', file=sys.stderr)
        return 2
    try:
        check(args[0], args[1:])
    except (Mismatch, OSError, ValueError, IndexError, struct.error) as e:
        print(f'check_exe_resources: FAIL: {args[0]}: {e}', file=sys.stderr)
        return 1
    print(f'check_exe_resources: {args[0]}: icons, manifest, version and payloads are as expected')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
