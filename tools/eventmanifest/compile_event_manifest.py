#!/usr/bin/env python3
"""Compiles an instrumentation manifest into the two resources a trace reader needs: the WEVT_TEMPLATE payload
(provider, task, opcodes, templates, events) and the binary message table of its strings.

It compiles what the idle waiter's provider uses: one provider, tasks, the standard opcodes win:Info, win:Start and
win:Stop, templates of scalar and string fields, events of level 0, keywords 0 and no channel. Anything else is
refused, and a refused manifest leaves neither output behind, so the build never embeds a partial or stale resource.

    compile_event_manifest.py MANIFEST WEVT_OUT MESSAGES_OUT
"""
import os
import struct
import sys
import uuid
import xml.etree.ElementTree as ET

EVENTS_NS = "{http://schemas.microsoft.com/win/2004/08/events}"
NO_MESSAGE = 0xFFFFFFFF

# in-type name -> (in-type, default out-type, accepted out-types). The substitution token repeats the in-type.
IN_TYPES = {
    "win:UnicodeString": (0x01, 0x01, {"xs:string": 0x01}),
    "win:Int32": (0x07, 0x07, {"xs:int": 0x07, "win:HexInt32": 0x12}),
    "win:UInt32": (0x08, 0x08, {"xs:unsignedInt": 0x08, "win:HexInt32": 0x12}),
    "win:UInt64": (0x0A, 0x0A, {"xs:unsignedLong": 0x0A, "win:HexInt64": 0x13}),
    "win:Double": (0x0C, 0x0C, {"xs:double": 0x0C}),
    "win:Boolean": (0x0D, 0x0D, {"xs:boolean": 0x0D}),
    "win:Pointer": (0x10, 0x13, {"win:HexInt64": 0x13}),
}

# The standard opcodes: value, message id and text, as the system's own metadata gives them.
STANDARD_OPCODES = {
    "win:Info": (0, 0x30000000, "Info"),
    "win:Start": (1, 0x30000001, "Start"),
    "win:Stop": (2, 0x30000002, "Stop"),
}

KIND_LEVL, KIND_TASK, KIND_OPCO, KIND_KEYW, KIND_EVNT, KIND_TTBL = 0, 1, 2, 3, 4, 7

# Elements of a provider this compiler does not handle; refusing them beats compiling them wrongly.
UNSUPPORTED_PROVIDER_ELEMENTS = ("channels", "levels", "opcodes", "keywords", "maps", "filters", "namedQueries")
EVENT_ATTRIBUTES = {"value", "version", "symbol", "task", "opcode", "template", "message"}


class ManifestError(Exception):
    pass


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def utf16(text):
    return text.encode("utf-16-le")


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def name_hash(name):
    h = 0
    for unit in struct.unpack("<%dH" % (len(utf16(name)) // 2), utf16(name)):
        h = (h * 65599 + unit) & 0xFFFFFFFF
    return h & 0xFFFF


def name_record(text):
    body = pad4(u32(0) + utf16(text) + b"\0\0")
    return u32(len(body)) + body[4:]


def inline_name(text):
    return u16(name_hash(text)) + u16(len(utf16(text)) // 2) + utf16(text) + b"\0\0"


def parse_guid(text, what):
    try:
        return uuid.UUID(text.strip("{}"))
    except (ValueError, AttributeError):
        raise ManifestError("%s: not a GUID: %r" % (what, text))


def parse_number(text, what, limit):
    try:
        value = int(text, 0)
    except (TypeError, ValueError):
        raise ManifestError("%s: not a number: %r" % (what, text))
    if not 0 <= value <= limit:
        raise ManifestError("%s: %d is out of range" % (what, value))
    return value


def string_reference(text, strings, what):
    if not (text.startswith("$(string.") and text.endswith(")")):
        raise ManifestError("%s: message %r is not a string reference" % (what, text))
    key = text[len("$(string."):-1]
    if key not in strings:
        raise ManifestError("%s: message %r has no text in the string table" % (what, text))
    return strings[key]


def read_strings(root):
    strings = {}
    for resources in root.iter(EVENTS_NS + "resources"):
        for string in resources.iter(EVENTS_NS + "string"):
            key, value = string.get("id"), string.get("value")
            if key is None or value is None:
                raise ManifestError("a string needs an id and a value")
            if key in strings:
                raise ManifestError("string %r is defined twice" % key)
            strings[key] = value
    return strings


def read_manifest(path):
    try:
        root = ET.parse(path).getroot()
    except (ET.ParseError, OSError) as error:
        raise ManifestError("cannot read %s: %s" % (path, error))
    if root.tag != EVENTS_NS + "instrumentationManifest":
        raise ManifestError("not an instrumentation manifest")
    providers = root.findall("%sinstrumentation/%sevents/%sprovider" % (EVENTS_NS, EVENTS_NS, EVENTS_NS))
    if len(providers) != 1:
        raise ManifestError("exactly one provider is compiled, found %d" % len(providers))
    provider = providers[0]
    strings = read_strings(root)
    for element in UNSUPPORTED_PROVIDER_ELEMENTS:
        if provider.find(EVENTS_NS + element) is not None:
            raise ManifestError("provider element <%s> is not supported" % element)

    tasks = {}
    for task in provider.iter(EVENTS_NS + "task"):
        name = task.get("name")
        if not name:
            raise ManifestError("a task needs a name")
        if name in tasks:
            raise ManifestError("task %r is defined twice" % name)
        if task.get("message") is not None:
            raise ManifestError("task %r: task messages are not supported" % name)
        value = parse_number(task.get("value"), "task %r" % name, 0xFFFF)
        if any(t["value"] == value for t in tasks.values()):
            raise ManifestError("task value %d is used twice" % value)
        guid = parse_guid(task.get("eventGUID"), "task %r" % name) if task.get("eventGUID") else uuid.UUID(int=0)
        tasks[name] = {"name": name, "value": value, "guid": guid}

    templates = {}
    for template in provider.iter(EVENTS_NS + "template"):
        tid = template.get("tid")
        if not tid:
            raise ManifestError("a template needs a tid")
        if tid in templates:
            raise ManifestError("template %r is defined twice" % tid)
        fields = []
        for child in template:
            if child.tag != EVENTS_NS + "data":
                raise ManifestError("template %r: element %s is not supported" % (tid, child.tag))
            name, in_type = child.get("name"), child.get("inType")
            if not name:
                raise ManifestError("template %r: a field needs a name" % tid)
            if any(f["name"] == name for f in fields):
                raise ManifestError("template %r: field %r is defined twice" % (tid, name))
            if in_type not in IN_TYPES:
                raise ManifestError("template %r field %r: unknown in-type %r" % (tid, name, in_type))
            if child.get("count") is not None or child.get("length") is not None or child.get("map") is not None:
                raise ManifestError("template %r field %r: count, length and maps are not supported" % (tid, name))
            in_value, out_default, outs = IN_TYPES[in_type]
            out_type = child.get("outType")
            if out_type is not None and out_type not in outs:
                raise ManifestError("template %r field %r: out-type %r does not fit %s" % (tid, name, out_type, in_type))
            fields.append({"name": name, "in": in_value, "out": outs[out_type] if out_type else out_default})
        if not fields:
            raise ManifestError("template %r has no fields" % tid)
        templates[tid] = fields

    events = []
    events_element = provider.find(EVENTS_NS + "events")
    for event in events_element.findall(EVENTS_NS + "event") if events_element is not None else []:
        what = "event %r" % event.get("symbol", event.get("value"))
        extra = set(event.keys()) - EVENT_ATTRIBUTES
        if extra:
            raise ManifestError("%s: attributes %s are not supported" % (what, ", ".join(sorted(extra))))
        value = parse_number(event.get("value"), what, 0xFFFF)
        version = parse_number(event.get("version", "0"), what + " version", 0xFF)
        if any(e["value"] == value and e["version"] == version for e in events):
            raise ManifestError("%s: event id %d version %d is defined twice" % (what, value, version))
        task_name = event.get("task")
        if task_name is None or task_name not in tasks:
            raise ManifestError("%s: unknown task %r" % (what, task_name))
        opcode_name = event.get("opcode", "win:Info")
        if opcode_name not in STANDARD_OPCODES:
            raise ManifestError("%s: unknown opcode %r" % (what, opcode_name))
        tid = event.get("template")
        if tid is not None and tid not in templates:
            raise ManifestError("%s: unknown template %r" % (what, tid))
        message = event.get("message")
        text = string_reference(message, strings, what) if message is not None else None
        events.append({"value": value, "version": version, "task": tasks[task_name], "opcode": opcode_name,
                       "template": tid, "text": text,
                       "message": (0xB0000000 | version << 16 | value) if text is not None else NO_MESSAGE})
    if not events:
        raise ManifestError("the provider has no events")
    events.sort(key=lambda e: (e["value"], e["version"]))
    return {"guid": parse_guid(provider.get("guid"), "provider"), "tasks": list(tasks.values()),
            "templates": templates, "events": events}


def template_xml(fields):
    elements = b""
    for index, field in enumerate(fields):
        text = utf16(field["name"])
        attributes = b"\x06" + inline_name("Name") + b"\x05\x01" + u16(len(text) // 2) + text
        content = (inline_name("Data") + u32(len(attributes)) + attributes + b"\x02" +
                   b"\x0d" + u16(index) + bytes([field["in"]]) + b"\x04")
        elements += b"\x41\xff\xff" + u32(len(content)) + content
    content = inline_name("EventData") + b"\x02" + elements + b"\x04"
    return b"\x0f\x01\x01\x00" + b"\x01\xff\xff" + u32(len(content)) + content + b"\x00"


def template_block(fields, guid, start):
    xml = pad4(template_xml(fields))
    descriptors_at = start + 40 + len(xml)
    names_at = descriptors_at + 20 * len(fields)
    descriptors, names = b"", b""
    for field in fields:
        record = name_record(field["name"])
        descriptors += struct.pack("<IBBHIHHI", 0, field["in"], field["out"], 0, 0, 0, 0, names_at + len(names))
        names += record
    size = 40 + len(xml) + len(descriptors) + len(names)
    header = b"TEMP" + u32(size) + u32(len(fields)) + u32(len(fields)) + u32(descriptors_at) + u32(1) + guid.bytes_le
    return header + xml + descriptors + names


def definitions_block(signature, definitions, start):
    """A block of fixed-size definitions followed by their name records; definitions are (bytes-before-name, name)
    and the name offset is the definition's last field. Returns the block and each definition's offset."""
    count = len(definitions)
    if count == 0:
        return signature + u32(0) + u32(0), []
    size_each = len(definitions[0][0]) + 4
    names_at = start + 12 + size_each * count
    body, names, offsets = b"", b"", []
    for prefix, name in definitions:
        offsets.append(start + 12 + len(body))
        body += prefix + u32(names_at + len(names))
        names += name_record(name)
    return signature + u32(12 + len(body) + len(names)) + u32(count) + body + names, offsets


def compile_payload(manifest):
    provider_guid = manifest["guid"]
    events = manifest["events"]
    elements_at = 16 + 20 + 16 + 8 * 6
    wevt_at = 16 + 20
    out = bytearray(elements_at)

    used_templates = []
    for event in events:
        if event["template"] is not None and event["template"] not in used_templates:
            used_templates.append(event["template"])
    ttbl_at = len(out)
    template_at, temps = {}, b""
    for tid in used_templates:
        template_at[tid] = ttbl_at + 12 + len(temps)
        temps += template_block(manifest["templates"][tid], uuid.uuid5(provider_guid, tid), template_at[tid])
    out += b"TTBL" + u32(12 + len(temps)) + u32(len(used_templates)) + temps

    opcodes = sorted({e["opcode"] for e in events}, key=lambda name: STANDARD_OPCODES[name][0])
    opco_at = len(out)
    block, offsets = definitions_block(
        b"OPCO", [(u32(STANDARD_OPCODES[n][0] << 16) + u32(STANDARD_OPCODES[n][1]), n) for n in opcodes], opco_at)
    opcode_at = dict(zip(opcodes, offsets))
    out += block

    levl_at = len(out)
    out += definitions_block(b"LEVL", [], levl_at)[0]

    tasks = sorted(manifest["tasks"], key=lambda t: t["value"])
    task_at_block = len(out)
    block, offsets = definitions_block(
        b"TASK", [(u32(t["value"]) + u32(NO_MESSAGE) + t["guid"].bytes_le, t["name"]) for t in tasks], task_at_block)
    task_at = {t["name"]: offset for t, offset in zip(tasks, offsets)}
    out += block

    keyw_at = len(out)
    out += definitions_block(b"KEYW", [], keyw_at)[0]

    evnt_at = len(out)
    out += b"EVNT" + u32(16 + 48 * len(events)) + u32(len(events)) + u32(0)
    for e in events:
        out += struct.pack("<HBBBBHQIIIIIIII", e["value"], e["version"], 0, 0, STANDARD_OPCODES[e["opcode"]][0],
                           e["task"]["value"], 0, e["message"],
                           template_at[e["template"]] if e["template"] is not None else 0,
                           opcode_at[e["opcode"]], 0, task_at[e["task"]["name"]], 0, 0, 0)

    end = len(out)
    header = b"CRIM" + u32(end) + u16(5) + u16(1) + u32(1) + provider_guid.bytes_le + u32(wevt_at)
    table = b"".join(u32(kind) + u32(offset) for kind, offset in (
        (KIND_TTBL, ttbl_at), (KIND_OPCO, opco_at), (KIND_LEVL, levl_at), (KIND_TASK, task_at_block),
        (KIND_KEYW, keyw_at), (KIND_EVNT, evnt_at)))
    out[0:elements_at] = header + b"WEVT" + u32(end - wevt_at) + u32(NO_MESSAGE) + u32(6) + table
    return bytes(out)


def manifest_messages(manifest):
    messages = {}
    for event in manifest["events"]:
        _, message, text = STANDARD_OPCODES[event["opcode"]]
        messages[message] = text
        if event["text"] is not None:
            messages[event["message"]] = event["text"]
    return messages


def compile_message_table(messages):
    ids = sorted(messages)
    runs = []
    for message in ids:
        if runs and runs[-1][-1] + 1 == message:
            runs[-1].append(message)
        else:
            runs.append([message])
    entries_at = 4 + 12 * len(runs)
    blocks, entries = b"", b""
    for run in runs:
        blocks += u32(run[0]) + u32(run[-1]) + u32(entries_at + len(entries))
        for message in run:
            entry = pad4(u32(0) + utf16(messages[message]) + b"\0\0")
            entries += u16(len(entry)) + u16(1) + entry[4:]
    return u32(len(runs)) + blocks + entries


def write_outputs(outputs):
    """Writes every output or none: each goes to a temporary name first and is renamed only when all are written."""
    temporaries = []
    try:
        for path, data in outputs:
            temporary = path + ".tmp"
            with open(temporary, "wb") as file:
                file.write(data)
            temporaries.append((temporary, path))
        for temporary, path in temporaries:
            os.replace(temporary, path)
    finally:
        for temporary, _ in temporaries:
            if os.path.exists(temporary):
                os.remove(temporary)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    manifest_path, wevt_path, messages_path = argv[1:]
    try:
        manifest = read_manifest(manifest_path)
        outputs = [(wevt_path, compile_payload(manifest)), (messages_path, compile_message_table(manifest_messages(manifest)))]
    except ManifestError as error:
        for path in (wevt_path, messages_path):
            if os.path.exists(path):
                os.remove(path)
        sys.stderr.write("%s: %s\n" % (manifest_path, error))
        return 1
    write_outputs(outputs)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
