#!/usr/bin/env python3
"""The event-manifest compiler: a small provider compiled byte for byte, and the manifests it must refuse without
leaving an output behind."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compile_event_manifest as compiler  # noqa: E402

# One provider, task 1 "Work", opcode win:Info, event 0 "Hello" with one string field "Id".
TINY = """<?xml version="1.0" encoding="UTF-8"?>
<instrumentationManifest xmlns="http://schemas.microsoft.com/win/2004/08/events"
                         xmlns:win="http://manifests.microsoft.com/win/2004/08/windows/events">
  <instrumentation><events>
    <provider name="Tiny" guid="{11111111-2222-3333-4444-555555555555}">
      <tasks><task name="Work" value="1" eventGUID="{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}"/></tasks>
      <templates><template tid="t"><data name="Id" inType="win:UnicodeString"/></template></templates>
      <events><event value="0" version="0" task="Work" opcode="win:Info" template="t" message="$(string.hello)"/>
      </events>
    </provider>
  </events></instrumentation>
  <localization><resources culture="en-US"><stringTable><string id="hello" value="Hello"/></stringTable>
  </resources></localization>
</instrumentationManifest>
"""

# The tiny provider as the system's manifest compiler lays it out (the template GUID is the compiler's own choice).
TINY_WEVT = bytes.fromhex(
    "4352494dd40100000500010001000000111111112222333344445555555555552400000057455654b0010000ffffffff"
    "060000000700000064000000020000001401000000000000440100000100000050010000030000008801000004000000"
    "940100005454424cb00000000100000054454d50a40000000100000001000000f400000001000000754d0d00a4e52747"
    "b5f046c3a0640fdc0f01010001ffff50000000448209004500760065006e007400440061007400610000000241ffff2f"
    "0000008a6f04004400610074006100000017000000064b9504004e0061006d00650000000501020049006400020d0000"
    "0104040000000000010100000000000000000000080100000c00000049006400000000004f50434f3000000001000000"
    "00000000000000302c01000018000000770069006e003a0049006e0066006f00000000004c45564c0000000000000000"
    "5441534b380000000100000001000000ffffffffaaaaaaaabbbbccccddddeeeeeeeeeeee780100001000000057006f00"
    "72006b00000000004b455957000000000000000045564e54400000000100000000000000000000000000010000000000"
    "00000000000000b07000000020010000000000005c010000000000000000000000000000")
TEMPLATE_GUID = slice(0x88, 0x98)
TINY_MESSAGES = bytes.fromhex(
    "0200000000000030000000301c000000000000b0000000b02c0000001000010049006e0066006f000000000010000100"
    "480065006c006c006f000000")


class Compiled(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.manifest = os.path.join(self.folder.name, "m.man")
        self.wevt = os.path.join(self.folder.name, "wevt.bin")
        self.messages = os.path.join(self.folder.name, "msg.bin")

    def compile(self, text):
        with open(self.manifest, "w", encoding="utf-8") as file:
            file.write(text)
        return compiler.main(["compiler", self.manifest, self.wevt, self.messages])

    def read(self, path):
        with open(path, "rb") as file:
            return file.read()


class TinyProvider(Compiled):
    def test_payload_and_message_table_match_the_reference_layout(self):
        self.assertEqual(self.compile(TINY), 0)
        wevt = bytearray(self.read(self.wevt))
        self.assertEqual(len(wevt), len(TINY_WEVT))
        self.assertNotEqual(bytes(wevt[TEMPLATE_GUID]), bytes(16))
        wevt[TEMPLATE_GUID] = TINY_WEVT[TEMPLATE_GUID]
        self.assertEqual(bytes(wevt).hex(), TINY_WEVT.hex())
        self.assertEqual(self.read(self.messages).hex(), TINY_MESSAGES.hex())

    def test_name_hashes(self):
        for name, expected in (("EventData", 0x8244), ("Data", 0x6F8A), ("Name", 0x954B), ("Event", 0x0CBA)):
            self.assertEqual(compiler.name_hash(name), expected, name)


class Refusals(Compiled):
    CASES = [
        ("unknown in-type", 'inType="win:UnicodeString"', 'inType="win:AnsiStringy"'),
        ("out-type that does not fit", 'inType="win:UnicodeString"/>', 'inType="win:UnicodeString" outType="win:HexInt64"/>'),
        ("duplicate event id", '</events>\n    </provider>',
         '<event value="0" task="Work" template="t" message="$(string.hello)"/></events>\n    </provider>'),
        ("duplicate template", '</templates>', '<template tid="t"><data name="X" inType="win:UInt32"/></template></templates>'),
        ("duplicate field name", '<data name="Id" inType="win:UnicodeString"/>',
         '<data name="Id" inType="win:UnicodeString"/><data name="Id" inType="win:UInt32"/>'),
        ("duplicate string", '</stringTable>', '<string id="hello" value="Again"/></stringTable>'),
        ("message without text", '$(string.hello)', '$(string.missing)'),
        ("message that is no string reference", '$(string.hello)', 'Hello'),
        ("unknown template", 'template="t"', 'template="nothing"'),
        ("unknown task", 'task="Work"', 'task="Play"'),
        ("unknown opcode", 'opcode="win:Info"', 'opcode="win:Suspend"'),
        ("level it cannot compile", 'opcode="win:Info"', 'opcode="win:Info" level="win:Error"'),
        ("provider opcodes", '<tasks>', '<opcodes/><tasks>'),
        ("bad provider GUID", '{11111111-2222-3333-4444-555555555555}', '{1111}'),
        ("event id out of range", 'value="0" version', 'value="70000" version'),
        ("not XML", '</instrumentationManifest>', '</instrumentation'),
        ("no events", '<event value="0"', '<eventx value="0"'),
    ]

    def test_each_refusal_fails_and_leaves_no_output(self):
        for what, old, new in self.CASES:
            with self.subTest(what):
                self.assertIn(old, TINY)
                for path in (self.wevt, self.messages):
                    with open(path, "wb") as file:
                        file.write(b"stale")
                self.assertEqual(self.compile(TINY.replace(old, new, 1)), 1)
                self.assertFalse(os.path.exists(self.wevt))
                self.assertFalse(os.path.exists(self.messages))
                self.assertEqual([n for n in os.listdir(self.folder.name) if n != "m.man"], [])


if __name__ == "__main__":
    unittest.main()
