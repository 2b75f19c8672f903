# Reads Prometheus text from standard input with the reference parser and
# prints every sample as {"name{label=value}": value}, and each family's type.
import json
import sys

from prometheus_client.parser import text_string_to_metric_families

out = {}
for family in text_string_to_metric_families(sys.stdin.read()):
    out["type:" + family.name] = family.type
    for s in family.samples:
        labels = ",".join("%s=%s" % (k, v) for k, v in sorted(s.labels.items()))
        out[s.name + ("{%s}" % labels if labels else "")] = s.value
json.dump(out, sys.stdout)
