#!/usr/bin/env python3
"""Section-3 manual pages from the reference Doxygen made of the public headers.

One page per call, with fixed sections (NAME, LIBRARY, SYNOPSIS, DESCRIPTION,
ARGUMENTS, RETURN VALUE, ERRORS, WAITS, THREADS AND PROCESSES, EXAMPLE, SEE
ALSO), and one page per header listing its calls, types and return codes
(man 3 kalvo.h). The pages come from the same comments as the HTML reference,
so a call documented in its header has its page; each page is also written
compressed (name.3.gz), as it is installed.

usage: call_pages.py --xml DIR --output DIR --version VERSION
"""
import argparse
import gzip
import os
import re
import sys
import xml.etree.ElementTree as ET

# Per header: the library that exports its calls, and how a program links it.
LIBRARIES = {
    "kalvo/kalvo.h": "Kalvo application API library (libKalvo.so.0; \\-lKalvo, "
                     "pkg\\-config kalvo)",
    "kalvo/board_library.h": "Master\\-board libraries Pcimaster64.so, Dualmaster.so and "
                             "Cardmaster.so (pkg\\-config pcimaster64, dualmaster or cardmaster)",
    "kalvo/kalvo_errors.h": "Header only: nothing to link (the functions are static inline)",
}
# The sections made of the "\par" paragraphs, in page order.
PARAGRAPH_SECTIONS = ["Waits", "Threads and processes", "Example"]


def escape(text):
    """Plain text as roff text (no request can start a line)."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return text


def line_safe(text):
    out = []
    for line in text.split("\n"):
        out.append("\\&" + line if line.startswith((".", "'")) else line)
    return "\n".join(out)


class Roff:
    """A Doxygen description (XML) as roff."""

    def inline(self, node):
        """The text of an element and its children, with fonts."""
        parts = [escape(node.text or "")]
        for child in node:
            tag = child.tag
            if tag in ("computeroutput", "bold"):
                parts.append("\\fB" + self.inline(child) + "\\fR")
            elif tag == "emphasis":
                parts.append("\\fI" + self.inline(child) + "\\fR")
            elif tag in ("ref", "ulink"):
                parts.append(self.inline(child))
            elif tag == "linebreak":
                parts.append("\n.br\n")
            elif tag in ("parameterlist", "simplesect", "itemizedlist", "orderedlist",
                         "programlisting", "verbatim", "xrefsect"):
                pass  # block elements: handled by blocks()
            else:
                parts.append(self.inline(child))
            parts.append(escape(child.tail or ""))
        return "".join(parts)

    def code(self, listing):
        lines = []
        for codeline in listing.findall("codeline"):
            text = []
            for node in codeline.iter():
                if node.tag == "sp":
                    text.append(" ")
                elif node.text and node.tag != "codeline":
                    text.append(node.text)
                if node is not codeline and node.tail and node.tag not in ("codeline",):
                    text.append(node.tail)
            lines.append(escape("".join(text)))
        return ".PP\n.RS 4\n.nf\n" + line_safe("\n".join(lines)) + "\n.fi\n.RE\n"

    def blocks(self, description, skip_sections=True):
        """Paragraphs, lists and code of a description, without the parts that
        have their own page sections (parameters, returns, see also, \\par)."""
        out = []
        for para in description.findall("para"):
            text = self.inline(para).strip()
            text = re.sub(r"\s*\n\s*", "\n", text)
            if text:
                out.append(".PP\n" + line_safe(text) + "\n")
            for child in para:
                if child.tag in ("itemizedlist", "orderedlist"):
                    for item in child.findall("listitem"):
                        body = "".join(self.blocks(item)).replace(".PP\n", "", 1)
                        out.append(".IP \\(bu 2\n" + body)
                elif child.tag == "programlisting":
                    out.append(self.code(child))
                elif child.tag == "verbatim":
                    out.append(".PP\n.nf\n" + line_safe(escape(child.text or "")) + "\n.fi\n")
                elif child.tag == "simplesect" and not skip_sections:
                    out.extend(self.blocks(child))
        return out


def sections_of(description):
    """The parts of a detailed description that get their own page section."""
    found = {"params": [], "retvals": [], "return": [], "see": [], "par": {}}
    for para in description.findall("para"):
        for child in para:
            if child.tag == "parameterlist":
                kind = "params" if child.get("kind") == "param" else "retvals"
                for item in child.findall("parameteritem"):
                    names = [n.text or "" for n in item.iter("parametername")]
                    found[kind].append((", ".join(names), item.find("parameterdescription")))
            elif child.tag == "simplesect":
                kind = child.get("kind")
                if kind == "return":
                    found["return"].append(child)
                elif kind == "see":
                    found["see"].append(child)
                elif kind == "par":
                    title = child.findtext("title") or ""
                    found["par"].setdefault(title, []).append(child)
    return found


def synopsis(header, member):
    params = []
    for p in member.findall("param"):
        ptype = "".join(p.find("type").itertext()).strip()
        name = p.findtext("declname") or ""
        if ptype == "void" and not name:
            continue
        sep = "" if ptype.endswith("*") else " "
        params.append(f"{escape(ptype)}{sep}\\fI{escape(name)}\\fP" if name else escape(ptype))
    rtype = "".join(member.find("type").itertext()).strip()
    rtype = re.sub(r"^static inline ", "", rtype)
    static = "static inline " if member.get("static") == "yes" else ""
    name = member.findtext("name")
    sep = "" if rtype.endswith("*") else " "
    head = f"{static}{rtype}{sep}{name}("
    # One argument a line after the first once the prototype passes 78 columns.
    width = len(head) + sum(len(re.sub(r"\\f[BIP]|\\", "", p)) + 2 for p in params)
    joiner = ",\n" + " " * len(head) if width > 78 else ", "
    args = joiner.join(params) if params else "void"
    return (".nf\n.B #include <" + header + ">\n.PP\n"
            f"{escape(static + rtype)}{sep}\\fB{escape(name)}\\fP({args});\n.fi\n")


def page_head(name, version):
    return (f'.TH "{name.upper()}" 3 "" "Kalvo {version}" "Kalvo Reference"\n'
            '.\\" Made from the reference comments of the public headers; do not edit.\n')


def call_page(roff, header, member, version, header_calls):
    name = member.findtext("name")
    brief = roff.inline(member.find("briefdescription/para")).strip() \
        if member.find("briefdescription/para") is not None else ""
    detail = member.find("detaileddescription")
    parts = sections_of(detail)
    out = [page_head(name, version), ".SH NAME\n", f"{escape(name)} \\- {brief}\n"]
    out.append(".SH LIBRARY\n" + LIBRARIES[header] + "\n")
    out.append(".SH SYNOPSIS\n" + synopsis(header, member))
    out.append(".SH DESCRIPTION\n")
    description = roff.blocks(detail)
    out.extend(description if description else [".PP\n" + line_safe(brief) + "\n"])
    if parts["params"]:
        out.append(".SH ARGUMENTS\n")
        for names, desc in parts["params"]:
            body = "".join(roff.blocks(desc)).replace(".PP\n", "", 1)
            out.append(f".TP\n.I {escape(names)}\n{body}")
    out.append(".SH \"RETURN VALUE\"\n")
    for sect in parts["return"]:
        out.extend(roff.blocks(sect))
    if not parts["return"]:
        out.append(".PP\nNone: the call cannot fail.\n")
    if parts["retvals"]:
        out.append(".SH ERRORS\n")
        for names, desc in parts["retvals"]:
            body = "".join(roff.blocks(desc)).replace(".PP\n", "", 1)
            out.append(f".TP\n.B {escape(names)}\n{body}")
    for title in PARAGRAPH_SECTIONS:
        for sect in parts["par"].get(title, []):
            out.append(f'.SH "{title.upper()}"\n')
            out.extend(roff.blocks(sect))
    others = sorted(set(parts["par"]) - set(PARAGRAPH_SECTIONS))
    if others:
        sys.exit(f"{name}: paragraph titles without a page section: {others}")
    see = []
    for sect in parts["see"]:
        see.extend(re.findall(r"KV_\w+|kalvo_\w+", "".join(sect.itertext())))
    see = [s for s in dict.fromkeys(see) if s != name and s in header_calls]
    refs = [f".BR {s} (3)" for s in see] + [f".BR {os.path.basename(header)} (3)"]
    out.append(".SH \"SEE ALSO\"\n" + ",\n".join(refs) + "\n")
    return name, "".join(out)


def header_page(roff, header, compound, members, version, xml_dir):
    base = os.path.basename(header)
    brief = roff.inline(compound.find("briefdescription/para")).strip() \
        if compound.find("briefdescription/para") is not None else ""
    out = [page_head(base, version), ".SH NAME\n", f"{escape(base)} \\- {brief}\n"]
    out.append(".SH LIBRARY\n" + LIBRARIES[header] + "\n")
    out.append(".SH SYNOPSIS\n.nf\n.B #include <" + header + ">\n.fi\n")
    out.append(".SH DESCRIPTION\n")
    out.extend(roff.blocks(compound.find("detaileddescription")))
    enums = [m for m in compound.iter("memberdef") if m.get("kind") == "enum"]
    for enum in enums:
        title = roff.inline(enum.find("briefdescription/para")).strip() \
            if enum.find("briefdescription/para") is not None else "Values"
        out.append(f'.SS "{title}"\n')
        for value in enum.findall("enumvalue"):
            vname = value.findtext("name")
            init = (value.findtext("initializer") or "").lstrip("= ").strip()
            desc = value.find("briefdescription")
            text = "".join(roff.blocks(desc)).replace(".PP\n", "", 1) if desc is not None else ""
            out.append(f".TP\n.BR {escape(vname)} \" ({escape(init)})\"\n{text}")
    for inner in compound.findall("innerclass"):
        struct = ET.parse(os.path.join(xml_dir, inner.get("refid") + ".xml")).getroot()
        sdef = struct.find("compounddef")
        sname = sdef.findtext("compoundname")
        sbrief = roff.inline(sdef.find("briefdescription/para")).strip() \
            if sdef.find("briefdescription/para") is not None else ""
        out.append(f'.SS "{escape(sname)}"\n.PP\n{sbrief}\n')
        out.extend(roff.blocks(sdef.find("detaileddescription")))
        for field in sdef.iter("memberdef"):
            ftype = "".join(field.find("type").itertext()).strip()
            fname = field.findtext("name") + (field.findtext("argsstring") or "")
            desc = field.find("briefdescription")
            text = "".join(roff.blocks(desc)).replace(".PP\n", "", 1) if desc is not None else ""
            out.append(f".TP\n.B {escape(ftype)} {escape(fname)}\n{text}")
    if members:
        out.append('.SH "CALLS"\n')
        for member in members:
            mbrief = roff.inline(member.find("briefdescription/para")).strip() \
                if member.find("briefdescription/para") is not None else ""
            out.append(f".TP\n.BR {member.findtext('name')} (3)\n{mbrief}\n")
    others = [os.path.basename(h) for h in LIBRARIES if h != header]
    out.append(".SH \"SEE ALSO\"\n" + ",\n".join(f".BR {o} (3)" for o in others) +
               ",\n.BR Kalvo.ini (5),\n.BR KalvoLog.ini (5),\n.BR kalvo (1)\n")
    return base, "".join(out)


def write_page(out_dir, name, text):
    path = os.path.join(out_dir, name + ".3")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    with open(path, "rb") as plain, open(path + ".gz", "wb") as packed:
        # No name and no time in the gzip header: the same page, the same file.
        with gzip.GzipFile(filename="", mode="wb", fileobj=packed, mtime=0,
                           compresslevel=9) as z:
            z.write(plain.read())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--xml", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    os.makedirs(args.output, exist_ok=True)
    roff = Roff()
    index = ET.parse(os.path.join(args.xml, "index.xml")).getroot()
    written = 0
    for compound in index.findall("compound"):
        if compound.get("kind") != "file":
            continue
        root = ET.parse(os.path.join(args.xml, compound.get("refid") + ".xml")).getroot()
        cdef = root.find("compounddef")
        header = cdef.findtext("compoundname")
        location = cdef.find("location").get("file")
        header = next((h for h in LIBRARIES if location.endswith(h)), None)
        if header is None:
            continue
        members = [m for m in cdef.iter("memberdef") if m.get("kind") == "function"]
        names = {m.findtext("name") for m in members}
        for member in members:
            name, text = call_page(roff, header, member, args.version, names)
            write_page(args.output, name, text)
            written += 1
        name, text = header_page(roff, header, cdef, members, args.version, args.xml)
        write_page(args.output, name, text)
    if not written:
        sys.exit(f"no calls found in {args.xml}")


if __name__ == "__main__":
    main()
