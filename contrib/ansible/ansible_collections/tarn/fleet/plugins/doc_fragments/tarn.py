# The options of the module and the inventory plugin that say how tarn is run.


class ModuleDocFragment:
    DOCUMENTATION = r"""
options:
  tarn:
    description: The tarn program.
    type: path
    default: tarn
  interfaces:
    description: The interfaces tarn uses (C(-i)); default every broadcast interface.
    type: list
    elements: str
"""
