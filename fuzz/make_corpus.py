#!/usr/bin/env python3
"""Writes the seed corpus of the actor file fuzz target into fuzz/corpus/.

The seeds are small actor files: the worked example and its accepted
variants, one file per loader message and per kind of refused file (the
body's among them, with a small PNG texture whole and broken), and
markup that exercises TinyXML's lexical corners. The files with hash names
next to them are inputs the fuzzer found, merged in with -merge=1."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def bone(name, ln, matrix):
    return f'<bone name="{name}" len="{ln}"><matrix>{matrix}</matrix></bone>\n'


def node(name, parent):
    return f'<node name="{name}">{parent}</node>\n'


def key(t, w="1", x="0", y="0", z="0"):
    return f'<key t="{t}"><quat w="{w}" x="{x}" y="{y}" z="{z}"/></key>\n'


def channel(keys, body):
    return f'<channel><keyframes keys="{keys}">\n{body}</keyframes></channel>\n'


def action(name, ln, channels):
    return f'<action name="{name}" len="{ln}">\n{channels}</action>\n'


def armature(bones, bone_elems, nodes, name="figure"):
    return (f'<armature name="{name}">\n<skeleton bones="{bones}">\n{bone_elems}</skeleton>\n'
            f'<heirachy>\n{nodes}</heirachy>\n</armature>\n')


def document(arm, actions):
    return f'<QVArmature>\n{arm}<actions>\n{actions}</actions>\n</QVArmature>\n'


BONES = bone("Bone", "1.2", "1,0,0,0, 0,1,0,0, 0,0,1,1") + bone("Bone.001", "0.8", "1,0,0,0, 0,1,0,1.2, 0,0,1,0")
NODES = node("Bone", "NULL") + node("Bone.001", "Bone")
ARM = armature("2", BONES, NODES)
CH = channel("2", key("0") + key("1000"))
ACT = action("nod", "1000", CH + channel("2", key("0") + key("1000", "0.7071", "0.7071")))
EXAMPLE = document(ARM, ACT)

PNG_2X2 = "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAYAAABytg0kAAAAEUlEQVR4nGM4Ma3iPwgzwBgAZPgLVZtXv3wAAAAASUVORK5CYII="


def body(weights="0 1; 0 1; 1 1; 1 1; 0 0.5 1 0.5; 0 0.5 1 0.5;", extra="", vertices="6", triangles="4",
         positions="0.1 0 1  -0.1 0 1  0.1 2 1  -0.1 2 1  0.1 1.2 1  -0.1 1.2 1",
         normals="0 0 1  0 0 1  0 0 1  0 0 1  0 0 1  0 0 1", tris="0 1 4  1 5 4  4 5 2  5 3 2"):
    return (f'<body vertices="{vertices}" triangles="{triangles}">\n<positions>{positions}</positions>\n'
            f'<normals>{normals}</normals>\n{extra}<weights>{weights}</weights>\n<triangles>{tris}</triangles>\n'
            '</body>\n')


UV = "<texcoords>0 0  1 0  0 1  1 1  0 0.6  1 0.6</texcoords>\n"


def with_body(b):
    return EXAMPLE.replace("</QVArmature>", b + "</QVArmature>")


seeds = {
    "example": EXAMPLE,
    "declaration_comments": '<?xml version="1.0" encoding="UTF-8"?>\n<!-- actor -->\n' + EXAMPLE.replace("<heirachy>", "<heirachy><!-- tree -->"),
    "reversed_order": "<QVArmature><actions>" + ACT + "</actions>" + '<armature name="figure"><heirachy>' + NODES + '</heirachy><skeleton bones="2">' + BONES + "</skeleton></armature></QVArmature>",
    "crlf": EXAMPLE.replace("\n", "\r\n"),
    "sixteen_numbers": EXAMPLE.replace("0,0,1,1<", "0,0,1,1, 0,0,0,1<"),
    "three_actions": document(ARM, ACT + action("stand", "500", CH + CH) + action("walk", "800", CH + CH)),
    "fewer_channels": document(ARM, action("nod", "1000", CH)),
    "bom": "\ufeff" + EXAMPLE,
    "latin1": '<?xml version="1.0" encoding="ISO-8859-1"?>' + EXAMPLE.replace('"figure"', '"fig\xe9"'),
    "entities": EXAMPLE.replace('"figure"', '"fig&amp;&#x41;&#65;&lt;"'),
    "cdata_node": EXAMPLE.replace(">NULL<", "><![CDATA[NULL]]><"),
    "no_file_root": "<other/>",
    "missing_name": EXAMPLE.replace('<armature name="figure">', "<armature>"),
    "bad_matrix": EXAMPLE.replace("1,0,0,0, 0,1,0,0, 0,0,1,1", "1,0,0,0"),
    "spoiled_matrix": EXAMPLE.replace("1,0,0,0, 0,1,0,0, 0,0,1,1", "1,x,0,0, 0,1,0,0, 0,0,1,1"),
    "cycle": document(armature("2", BONES, node("Bone", "Bone.001") + node("Bone.001", "Bone")), ACT),
    "two_roots": document(armature("2", BONES, node("Bone", "NULL") + node("Bone.001", "NULL")), ACT),
    "keys_backwards": document(ARM, action("nod", "1000", channel("2", key("500") + key("100")))),
    "count_mismatch": EXAMPLE.replace('bones="2"', 'bones="3"'),
    "negative_count": EXAMPLE.replace('keys="2"', 'keys="-1"', 1),
    "huge_time": EXAMPLE.replace('t="1000"', 't="1e300"', 1),
    "deep_small": "<a>" * 300 + "</a>" * 300,
    "utf8_lead": '<?xml version="1.0"?><QVArmature><armature name="\xf0"></armature></QVArmature>',
    "unknown_nodes": "<!DOCTYPE QVArmature><?pi x?>" + EXAMPLE,
    "entity_span": "<a>&#</a>#1;</a>",
    "root_height": document(ARM, action("nod", "1000", channel("2", key("0").replace("<key", '<key h="0.1"') + key("1000").replace("<key", '<key h="-0.05"')) + CH)),
    "root_height_mixed": document(ARM, action("nod", "1000", channel("2", key("0").replace("<key", '<key h="0.1"') + key("1000")) + CH)),
    "root_height_elsewhere": document(ARM, action("nod", "1000", CH + channel("1", key("0").replace("<key", '<key h="1"')))),
    "body": with_body(body()),
    "body_textured": with_body(body(extra=UV + f"<texture>{PNG_2X2}</texture>\n")),
    "body_texture_broken": with_body(body(extra=UV + f"<texture>{PNG_2X2[:60]}AAAA{PNG_2X2[64:]}</texture>\n")),
    "body_texture_not_base64": with_body(body(extra=UV + "<texture>iVBO*w0K</texture>\n")),
    "body_texture_alone": with_body(body(extra=f"<texture>{PNG_2X2}</texture>\n")),
    "body_weights_short": with_body(body(weights="0 1; 0 1; 1 1; 1 1; 0 0.5 1 0.48; 0 0.5 1 0.5;")),
    "body_bone_range": with_body(body(weights="0 1; 0 1; 2 1; 1 1; 0 0.5 1 0.5; 0 0.5 1 0.5;")),
    "body_bone_twice": with_body(body(weights="0 1; 0 1; 1 1; 1 1; 0 0.5 0 0.5; 0 0.5 1 0.5;")),
    "body_group_open": with_body(body(weights="0 1; 0 1; 1 1; 1 1; 0 0.5 1 0.5; 0 0.5 1")),
    "body_vertex_range": with_body(body(tris="0 1 6  1 5 4  4 5 2  5 3 2")),
    "body_count_mismatch": with_body(body(vertices="7")),
    "body_not_a_number": with_body(body(positions="0.1 0 1  -0.1 0 1  0.1 2 1  -0.1 2 1  0.1 1.2 1  -0.1 1.2 nan")),
    "body_zero_normal": with_body(body(normals="0 0 0  0 0 1  0 0 1  0 0 1  0 0 1  0 0 1")),
    "body_far": with_body(body(positions="0.1 0 1  -0.1 0 1  0.1 2 1  -0.1 2 1  0.1 1.2 1  -0.1 1.2 999999")),
    "body_flat_bone": with_body(body()).replace("1,0,0,0, 0,1,0,1.2, 0,0,1,0", "1,0,0,0, 0,1,0,1.2, 0,0,0,0"),
}

os.makedirs(OUT, exist_ok=True)
for name, text in seeds.items():
    with open(os.path.join(OUT, name + ".xml"), "wb") as f:
        # Seeds that carry raw bytes above 0x7f are written byte for byte.
        f.write(text.encode("latin-1") if name in ("latin1", "utf8_lead") else text.encode("utf-8"))
print(f"wrote {len(seeds)} seeds to {OUT}")
