#!/usr/bin/python3
"""Reads a Prometheus text exposition file with prometheus_client's own parser and prints, as one
JSON object, every sample ("name{label="value",...}": value) and every family's type. Exits with
77 when the parser is not installed, 1 when the file does not parse."""
import json
import sys

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    sys.exit(77)

with open(sys.argv[1], encoding="utf-8") as f:
    text = f.read()
samples = {}
types = {}
try:
    for family in text_string_to_metric_families(text):
        types[family.name] = family.type
        for sample in family.samples:
            labels = ",".join(f'{k}="{v}"' for k, v in sorted(sample.labels.items()))
            samples[sample.name + ("{" + labels + "}" if labels else "")] = sample.value
except Exception as error:  # the parser's complaint is the test's message
    print(f"does not parse: {error}")
    sys.exit(1)
print(json.dumps({"samples": samples, "types": types}))
